#pragma once

#include <QString>

// The result of every command, from a slot, the command layer or either server, in one place: any
// text other than success is a reason and reaches the client unchanged.
namespace CommandResult
{
inline const QString success = QStringLiteral("success");
inline const QString slotIdInvalid = QStringLiteral("Slot id invalid");
inline const QString alreadyRecording = QStringLiteral("Already recording");
inline const QString notRecording = QStringLiteral("Not recording");
inline const QString commandUnsupported = QStringLiteral("Command unsupported");
inline const QString invalidCommand = QStringLiteral("Invalid command");
inline const QString sourceNameMissing = QStringLiteral("Source name missing");
inline const QString accessKeyRequired = QStringLiteral("Access key required");
inline const QString accessKeyWrong = QStringLiteral("Access key wrong");
inline const QString noPicture = QStringLiteral("No picture");
inline const QString notConnected = QStringLiteral("Slot not connected to any source");
inline const QString viewingOnly = QStringLiteral("Slot set to viewing only");
inline const QString folderMissing = QStringLiteral("Recording folder does not exist");
inline const QString slotNotRecording = QStringLiteral("Slot is not recording");
inline const QString recordingInProgress = QStringLiteral("Recording in progress");
} // namespace CommandResult
