#pragma once

#include <QAbstractListModel>
#include <QStringList>

// The names of every source discovery has announced, in order of announcement; never shrinks.
// Main thread only.
class SourcesModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(QString entered READ entered WRITE setEntered NOTIFY enteredChanged)
    Q_PROPERTY(int selectedInd READ selectedInd WRITE setSelectedInd NOTIFY selectedIndChanged)
    // Why no source can be found (the NDI runtime missing), for the window to say; empty normally.
    Q_PROPERTY(QString runtimeProblem READ runtimeProblem CONSTANT)
public:
    enum Roles { NameRole = Qt::UserRole + 1 };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString selected() const { return m_selected; }
    QString entered() const { return m_entered; }
    int selectedInd() const { return m_selectedInd; }
    QString runtimeProblem() const;

    // The caller passes a valid row.
    Q_INVOKABLE QString sourceAt(int row) const;

public Q_SLOTS:
    void sourceAdded(const QString& source);
    void setSelected(const QString& selected);
    void setEntered(const QString& entered);
    void setSelectedInd(int selectedInd);
    void connectClicked();

Q_SIGNALS:
    void sourceAddedSig();
    void selectedChanged(QString selected);
    void enteredChanged(QString entered);
    void selectedIndChanged(int selectedInd);

private:
    QStringList m_sources;
    QString m_selected;
    QString m_entered;
    int m_selectedInd = -1;
};
