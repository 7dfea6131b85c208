#pragma once

#include <QString>

// Result texts of the command layer that both servers also produce themselves. Any text other
// than success is a reason and reaches the client unchanged.
namespace ApiResult
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
} // namespace ApiResult
