#include <gtest/gtest.h>

#include "convert.hpp"
#include "json.hpp"

namespace lignor {
namespace {

using std::string;
using std::string_view;

TEST(convert, notes_carry_the_current_record_and_serialise_in_key_order) {
    Pass pass;
    pass.note("CHAR", NoteKind::Dropped, "fixed");
    pass.record = "@I1@";
    pass.note("FILE.FORM", NoteKind::Kept, string("composed \"x\""));
    pass.note("_UID", NoteKind::Converted, "c");
    EXPECT_EQ(to_json(pass.notes),
              R"([{"record":null,"tag":"CHAR","kind":"Dropped","detail":"fixed"},)"
              R"({"record":"@I1@","tag":"FILE.FORM","kind":"Kept","detail":"composed \"x\""},)"
              R"({"record":"@I1@","tag":"_UID","kind":"Converted","detail":"c"}])");
}

}  // namespace
}  // namespace lignor
