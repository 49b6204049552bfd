#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>

namespace korvinet::platform {

struct ReplaceOptions {
    // The file is readable and writable by its owner only, whatever the file
    // it replaces allowed (a file holding a password).
    bool ownerOnly = false;
    // A file without write permission for its owner is left alone and the
    // call fails, also for a user whom permission bits do not stop (root).
    bool refuseReadOnlyFile = false;
    // When the folder takes no new file but the file itself may be written,
    // the bytes are written straight into the file. The space they need is
    // reserved before the first old byte is overwritten, so a full disk
    // still leaves the file as it was; a crash or a failing drive half way
    // can leave it part old, part new.
    bool writeInPlaceIfFolderIsReadOnly = false;
};

// Puts `bytes` into the named file so that a failure at any step (a full
// disk, a vanished drive, a missing permission) leaves the file as it was and
// nothing beside it: the bytes go to a new file in the same folder, which is
// written, flushed to disk and closed, given the old file's permissions and
// owner, and only then renamed over the old one. A file that cannot be
// written fails as opening it for writing would. A symbolic link is followed
// and stays a link; a device or a pipe is written directly. A new file gets
// the permissions any newly created file gets (the umask applies). False on
// any failure and for an empty name.
[[nodiscard]] bool ReplaceFileContents(const QString& fileName, const QByteArray& bytes,
                                       const ReplaceOptions& options = {});

// The same for contents made piece by piece, so a large file never has to be
// held whole: `produce` hands each piece to the sink it is given, which
// returns false when writing failed. When either returns false the save
// fails as a failed write does (a producer stopping, say at the user's
// request, leaves the old file as it was).
using ContentSink = std::function<bool(QByteArrayView piece)>;
using ContentProducer = std::function<bool(const ContentSink& sink)>;
[[nodiscard]] bool ReplaceFileContentsWith(const QString& fileName, const ContentProducer& produce,
                                           const ReplaceOptions& options = {});

// Removes the new files a replacement of the named file left behind when
// the process was killed half way (hidden, beside it). Only for a caller
// that knows no other process is replacing the file now (it holds the
// folder's lock). Returns how many went.
int RemoveLeftoverReplacements(const QString& fileName);

} // namespace korvinet::platform
