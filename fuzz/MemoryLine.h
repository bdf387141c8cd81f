#pragma once
// The in-memory line behind the fuzz build's serial device: the controller's side is a list of
// canned replies. Each command line the console writes is echoed (unless the reply says otherwise)
// and followed by the next reply's bytes; once the replies run out, a read finds the line gone
// (EIO), so a reply that never ends costs no time-out.

#include <cstddef>
#include <string>
#include <vector>

namespace fuzz {

struct TMemoryLine {
    static constexpr char NoEcho = '\x01'; // a reply that starts with it is sent without the echo

    std::vector<std::string> Replies;
    size_t Next = 0;
    std::string Incoming; // bytes the console may read now
    std::string Written;  // everything the console wrote
    size_t LineStart = 0; // start of the command line being written

    void Reset(std::vector<std::string> replies) {
        Replies = std::move(replies);
        Next = 0;
        Incoming.clear();
        Written.clear();
        LineStart = 0;
    }
};

TMemoryLine& Line();

} // namespace fuzz
