// Tags version 7 names otherwise: _UID as UID, a pointer to a note record
// as SNOTE, and the note records such pointers may lead to.
#include <algorithm>
#include <string>

#include "convert7_rules.hpp"

namespace lignor {
namespace to7 {

Change decide_uid(const Node& /*node*/, const Place& /*place*/, Pass& /*pass*/,
                  Decision& /*decision*/) {
    return Change::Rewrites;
}

bool uid_to_7(Node& node, Decision& /*decision*/, const Place& /*place*/, Pass& pass) {
    node.set_tag("UID");
    pass.note("_UID", NoteKind::Converted,
              "version 7 defines UID, so the extension is no longer needed");
    return true;
}

Change decide_note_pointer(const Node& note, const Place& place, Pass& /*pass*/,
                           Decision& /*decision*/) {
    const auto payload = note.value();
    const bool shared =
        payload && is_valid_xref(*payload) && place.note_records->contains(*payload);
    return shared ? Change::Rewrites : Change::None;
}

bool note_pointer_to_7(Node& note, Decision& /*decision*/, const Place& /*place*/, Pass& pass) {
    note.set_tag("SNOTE");
    pass.note("NOTE", NoteKind::Converted,
              "a pointer to a note record is a shared note pointer in version 7");
    return true;
}

}  // namespace to7

NoteRecordIds::NoteRecordIds(std::span<const Node> records) {
    for (const Node& record : records) {
        if (tag_is(record.tag(), "NOTE") && record.xref())
            keys_.push_back(xref_key(*record.xref()));
    }
    std::sort(keys_.begin(), keys_.end());
}

bool NoteRecordIds::contains(std::string_view pointer) const {
    return std::binary_search(keys_.begin(), keys_.end(), xref_key(pointer));
}

}  // namespace lignor
