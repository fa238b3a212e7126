// store.h - the shore's copy of each station's files: DIR/NAME/Dddd/name as
// the station has it, its index in DIR/NAME/Tddd/name, and the shore's own
// cursor in DIR/NAME/shore.state.
//
// A port's copy only ever grows at its end: a run that ends before the end
// is a message delivered again and changes nothing; one that begins after
// it is a hole (a message lost between broker and shore), not written, and
// the station is asked to send again from the end. So the copy is always a
// prefix of the station's file, byte for byte. A copy is never cut: what is
// written is synced before the station hears of it, and after a kill the
// shore goes on from where each copy's own index says its bytes end.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace shore {

// One message as the station published it.
struct Message {
    std::string station;
    int port = 0;
    std::string file;       // "Dddd/dddsssss.Cnn"
    std::string previous;   // at a file's offset 0: "FILE LENGTH" of the file before it, when there is one
    long long offset = 0;
    const unsigned char *bytes = nullptr;
    long long count = 0;
    bool dated = false;
    long long first = 0, last = 0;
    bool gap = false;
    long long missing = 0;
};

// What to tell a station about a port: "FILE OFFSET" (with " resend").
struct Ack {
    std::string station;
    int port = 0;
    std::string text;
};

class Store {
public:
    explicit Store(std::string dir) : m_dir(std::move(dir)) {}
    ~Store();

    // Takes every station's cursor from its copies in DIR (at the start).
    void restore();
    // Applies a message; false, with why, when it cannot be written (a disk
    // error: nothing moves, and the station sends it again).
    bool apply(const Message &m, std::string &why);
    // Syncs what was written and the cursors, and gives the positions to
    // publish; a port with a hole asks for a resend (once a second at most).
    bool sync(std::vector<Ack> &acks, std::string &why);
    // Every port's position with " resend", after (re)connecting: whatever
    // the broker lost meanwhile comes again.
    void resend_all(std::vector<Ack> &acks) const;
    // The station's status JSON (or "offline"), kept in DIR/NAME/status.json.
    void status(const std::string &station, const std::string &text);

private:
    struct Copy {
        std::string file;
        int data = -1, index = -1;
        long long end = 0;          // bytes of the copy
        long long indexLength = 0;  // bytes of its index
        long long previousFirst = 0;
        long long indexedEnd = 0;   // where the index's records end: a dated run after undated bytes begins a segment
        bool dirty = false;
        bool hole = false;
        std::string holeFile;       // without a copy yet: the file a hole was seen in
        long long askedAt = 0;      // when a resend was last asked for
        std::string lastGap;        // the last gap written to the index, so one delivered again is written once
    };
    using Key = std::pair<std::string, int>;
    bool open_copy(const Key &key, Copy &c, const std::string &file, std::string &why);
    bool begin_segment(Copy &c, std::string &why);
    void close_copy(Copy &c);
    bool write_state(const std::string &station, std::string &why);
    bool append_index(Copy &c, const std::string &bytes, std::string &why);
    bool note_gap(Copy &c, const Message &m, std::string &why);

    std::string m_dir;
    std::map<Key, Copy> m_copies;
};

} // namespace shore
