import QtQuick

// Shows "[multiple]" when the edited slots differ; that placeholder is never marked invalid.
CustomTextField {
    showsInvalid: !acceptableInput && text !== "[multiple]"
}
