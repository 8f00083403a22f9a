// One client session of the core: the core object created by its ProgID
// through the object runtime, its sub-objects fetched by name, the link, the
// unit's settings read, and the clean-up a well-behaved client does.
//
// States, each reached on demand by the command that needs it:
//   object    the core exists (a command that needs no unit stops here);
//   link      connected (handshake done), settings not read: the monitor idles;
//   queried   Query succeeded: the monitor keeps the unit and the objects in step.
// The destructor calls Cleanup on the level meters, profile, format and core
// objects, disconnects when connected, releases everything and ends the
// runtime's use on this thread.
//
// Thread contract: one thread (the program's main thread) uses a Session.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/xelctl/Late.h"

namespace xelctl {

class Session {
public:
    // `address` empty: the connection object's own default.
    explicit Session(std::string address);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The core object (created on first use); a failure of type 1 when it
    // cannot be had (not registered, library missing).
    IDispatch* core();
    // "Xel", "Comm", "Format", "Profile" or "VU", any case; a usage failure
    // naming the five otherwise.
    IDispatch* object(std::string_view name);
    static const std::vector<std::string>& objectNames();
    // The members of an object as its type information lists them (cached).
    const std::vector<MemberInfo>& members(std::string_view objectName);

    // The connection's address as it will be used (for messages).
    std::string address();

    void ensureLink();     // connects unless connected
    void ensureQueried();  // connects and reads the unit's settings unless done
    bool queried() const { return queried_; }
    bool linked() const { return linked_; }
    // Raw exchanges outside the core's knowledge: the monitor must be idle and
    // the objects re-read afterwards. A queried session reconnects first.
    void ensureQuietLink();
    // Waits until every change stored so far has been answered by the unit;
    // a failure of type 1 saying what `what` was when it did not.
    void settle(const std::string& what);
    // Ends the link (the next command needing it connects again).
    void disconnect();
    // The link is known to be unusable: forget it so that a later command starts
    // afresh.
    void dropLink();

    // The IXelStatus face of the core, for WaitSettled and DownloadProgress.
    IDispatch* status();

private:
    void connectNow();

    std::string address_;
    bool initialized_ = false;
    ComPtr<IDispatch> core_;
    ComPtr<IDispatch> status_;
    std::map<std::string, ComPtr<IDispatch>> objects_;  // by canonical name
    std::map<std::string, std::vector<MemberInfo>> members_;
    bool linked_ = false;
    bool queried_ = false;
};

// Milliseconds a change may take to reach the unit before a command gives up.
inline constexpr long kSettleTimeoutMs = 30000;

}  // namespace xelctl
