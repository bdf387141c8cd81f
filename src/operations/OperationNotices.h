#pragma once
// What the configuration operations did to a controller, told to whoever listens (the plant
// publisher of a front end): a configuration downloaded into it, a backup taken of it, its
// configuration saved to non-volatile memory. Told once the operation succeeded, on the operation's
// own thread, with the link it ran on, so that a listener keeps to its own controller.
//
// Threads: any. A listener is called under the notices' lock: it must return at once and must not
// use the link nor add or remove listeners. RemoveOperationListener returns once no call to it is
// running, so a listener may be freed afterwards.

#include <string>

class TIxaInterface;

enum class TOperationNotice : unsigned char {
    ConfigurationDownloaded, // detail: the file's name and the lines sent
    BackupTaken,             // detail: the backup's name
    SavedToController,       // detail: "full" for "SC 1", else empty
};

class TOperationListener {
public:
    virtual ~TOperationListener() = default;
    virtual void OnOperation(const TIxaInterface& link, TOperationNotice notice,
                             const std::string& detail) noexcept = 0;
};

void AddOperationListener(TOperationListener* listener);
void RemoveOperationListener(TOperationListener* listener);
void NotifyOperation(const TIxaInterface& link, TOperationNotice notice, const std::string& detail);
