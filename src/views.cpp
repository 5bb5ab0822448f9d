// Display-ready views: records, individuals and families read into owned
// values, and their serialised form.
#include "views.hpp"

#include "dates.hpp"
#include "names.hpp"
#include "tags.hpp"
#include "unicode.hpp"
#include "value_writer.hpp"

namespace lignor {
namespace {

constexpr std::size_t heading_limit = 90;
constexpr std::size_t heading_kept = 87;
constexpr std::string_view ellipsis = "\u2026";

std::string label_or_tag(std::string_view tag) {
    return std::string(tags::label(tag).value_or(tag));
}

// ---- Headings -------------------------------------------------------------------

// The text a record's heading is made from, before cleaning; nothing when the
// record's tag has no source for one.
std::optional<std::string> heading_source(const Node& record) {
    const std::string_view tag = record.tag();
    if (tag == "FAM") return std::nullopt;
    if (tag == "INDI") {
        const Node* name = record.first("NAME");
        if (!name) return std::nullopt;
        return PersonalName::from_node(*name).display();
    }
    if (tag == "SOUR") {
        // A blank TITL still wins over ABBR: the source has a title, just an empty one.
        if (auto title = record.value_of("TITL")) return title;
        return record.value_of("ABBR");
    }
    if (tag == "REPO" || tag == "SUBM") return record.value_of("NAME");
    if (tag == "OBJE") {
        const Node* file = record.first("FILE");
        if (!file) return std::nullopt;
        if (auto title = file->value_of("TITL")) return title;
        return file->logical_value();
    }
    return record.logical_value();
}

// Trimmed, with line feeds turned into spaces; empty when nothing remains.
std::string clean_heading(std::string_view text) {
    std::string cleaned(unicode::trim(text));
    for (char& byte : cleaned) {
        if (byte == '\n') byte = ' ';
    }
    return cleaned;
}

// ---- Individuals ---------------------------------------------------------------

bool is_typed_identifier(std::string_view tag) noexcept {
    return tag == "REFN" || tag == "EXID" || tag == "_UID" || tag == "RIN" || tag == "UID";
}

// Extension tags such as _XID or _PERSONID.
bool is_extension_identifier(std::string_view tag) noexcept {
    return !tag.empty() && tag.front() == '_' && tag.find("ID") != std::string_view::npos;
}

IdentifierView identifier_view(const Node& node, bool typed) {
    IdentifierView view;
    view.tag = std::string(node.tag());
    view.label = label_or_tag(node.tag());
    view.value = node.logical_value();
    if (typed) view.kind = node.value_of("TYPE");
    return view;
}

FamilyLinkView child_link(const Node& famc, std::string pointer) {
    FamilyLinkView link{std::move(pointer), std::nullopt};
    if (const auto written = famc.value_of("PEDI")) {
        link.pedigree = std::string(tags::pedigree_label(std::string_view(*written)));
    }
    return link;
}

std::string sex_in_words(const Node& sex) {
    const std::string written = sex.logical_value();
    const std::string_view trimmed = unicode::trim(written);
    if (trimmed == "F") return "Female";
    if (trimmed == "M") return "Male";
    if (trimmed == "X") return "Neither male nor female";
    if (trimmed == "U") return "Unknown";
    return std::string(trimmed);
}

std::string sort_form(const PersonalName& name) {
    if (name.surname && name.given) return *name.surname + ", " + *name.given;
    if (name.surname) return *name.surname;
    if (name.given) return *name.given;
    return name.display();
}

// ---- Events --------------------------------------------------------------------

std::string event_label(const Node& event) {
    const std::string_view tag = event.tag();
    if (tag == "EVEN" || tag == "FACT") {
        if (auto type = event.value_of("TYPE"); type && !unicode::trim(*type).empty()) {
            return std::move(*type);
        }
    }
    return label_or_tag(tag);
}

std::optional<std::int64_t> sort_key_of(const GedcomDate& date) {
    if (date.earliest) {
        const DatePoint& point = *date.earliest;
        return std::int64_t{point.year} * 10000 + point.month.value_or(0) * 100 +
               point.day.value_or(0);
    }
    if (const auto year = date.year_hint()) return std::int64_t{*year} * 10000;
    return std::nullopt;
}

// The event line's own payload, unless it only says that the event happened.
std::optional<std::string> event_value(const Node& event) {
    const auto payload = event.value();
    if (!payload || *payload == "Y" || unicode::trim(*payload).empty()) return std::nullopt;
    return std::string(*payload);
}

}  // namespace

// The identifier rule, so "@VOID@" counts too.
bool is_pointer_shaped(std::string_view payload) noexcept {
    return is_valid_xref(payload);
}

std::optional<std::string> pointer_of(const Node& node) {
    const auto payload = node.value();
    if (!payload || !is_pointer_shaped(*payload)) return std::nullopt;
    return std::string(*payload);
}

std::vector<std::string> citation_list(const Node& node) {
    std::vector<std::string> citations;
    for (const Node& child : node.children()) {
        if (child.tag() != "SOUR") continue;
        if (auto pointer = pointer_of(child)) citations.push_back(std::move(*pointer));
    }
    return citations;
}

// ---- StructureView / RecordView -------------------------------------------------

StructureView StructureView::from_node(const Node& node, std::uint16_t level, StructurePath path) {
    StructureView view;
    const auto& children = node.children();
    for (std::size_t index = 0; index < children.size(); ++index) {
        const Node& child = children[index];
        if (is_continuation_tag(child.tag())) continue;
        StructurePath child_path = path;
        child_path.push_back(index);
        view.children.push_back(
            from_node(child, static_cast<std::uint16_t>(level + 1), std::move(child_path)));
    }
    view.path = std::move(path);
    view.level = level;
    view.tag = std::string(node.tag());
    view.label = label_or_tag(node.tag());
    view.kind = std::string(tags::to_string(tags::kind(node.tag(), true)));
    view.value = node.logical_value();
    view.pointer = pointer_of(node);
    view.extension = !view.tag.empty() && view.tag.front() == '_';
    return view;
}

void StructureView::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::path);
    write_array(out, path);
    out.key(Key::level).unsigned_integer(level);
    out.key(Key::tag).string(tag);
    out.key(Key::label).string(label);
    out.key(Key::kind).string(kind);
    out.key(Key::value).string(value);
    out.key(Key::pointer).optional_string(pointer);
    out.key(Key::extension).boolean(extension);
    out.key(Key::children);
    write_array(out, children);
    out.end_object();
}

RecordView RecordView::from_node(const Node& record) {
    RecordView view;
    if (const auto xref = record.xref()) view.xref = std::string(*xref);
    view.tag = std::string(record.tag());
    view.label = label_or_tag(record.tag());
    view.title = record_title(record);
    const auto& children = record.children();
    for (std::size_t index = 0; index < children.size(); ++index) {
        if (is_continuation_tag(children[index].tag())) continue;
        view.structures.push_back(StructureView::from_node(children[index], 1, {index}));
    }
    view.raw = raw_lines(record);
    return view;
}

void RecordView::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::xref).optional_string(xref);
    out.key(Key::tag).string(tag);
    out.key(Key::label).string(label);
    out.key(Key::title).string(title);
    out.key(Key::structures);
    write_array(out, structures);
    out.key(Key::raw).string(raw);
    out.end_object();
}

std::string record_title(const Node& record) {
    if (const auto source = heading_source(record)) {
        std::string cleaned = clean_heading(*source);
        if (!cleaned.empty()) return truncate_heading(std::move(cleaned));
    }
    return truncate_heading(label_or_tag(record.tag()));
}

std::string truncate_heading(std::string text) {
    if (text.size() <= heading_limit) return text;  // never more characters than bytes
    std::size_t characters = 0;
    std::size_t cut = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        unicode::next_code_point(text, pos);
        ++characters;
        if (characters == heading_kept) cut = pos;
        if (characters > heading_limit) {
            text.resize(cut);
            text.append(ellipsis);
            return text;
        }
    }
    return text;
}

std::string raw_lines(const Node& record) {
    std::string out;
    out.reserve(record.rendered_size(0));
    record.render_into(0, out);
    return out;
}

// ---- NameView / FamilyLinkView / IdentifierView ---------------------------------

NameView NameView::from_node(const Node& name) {
    PersonalName personal = PersonalName::from_node(name);
    NameView view;
    view.display = personal.display();
    view.sort = sort_form(personal);
    view.original = std::move(personal.original);
    view.kind = std::move(personal.kind);
    view.citations = citation_list(name);
    return view;
}

void NameView::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::display).string(display);
    out.key(Key::sort).string(sort);
    out.key(Key::original).string(original);
    out.key(Key::kind).optional_string(kind);
    out.key(Key::citations);
    write_array(out, citations);
    out.end_object();
}

void FamilyLinkView::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::family).string(family);
    out.key(Key::pedigree).optional_string(pedigree);
    out.end_object();
}

void IdentifierView::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::tag).string(tag);
    out.key(Key::label).string(label);
    out.key(Key::value).string(value);
    out.key(Key::kind).optional_string(kind);
    out.end_object();
}

// ---- EventView ------------------------------------------------------------------

EventView EventView::from_node(const Node& node, StructurePath path) {
    EventView view;
    view.tag = std::string(node.tag());
    view.label = event_label(node);
    view.date = node.value_of("DATE");
    if (view.date) {
        const GedcomDate reading = GedcomDate::parse(*view.date);
        view.date_display = reading.display();
        view.year = reading.year_hint();
        view.sort_key = sort_key_of(reading);
    }
    view.place = node.value_of("PLAC");
    view.age = node.value_of("AGE");
    view.cause = node.value_of("CAUS");
    view.attribute = tags::is_attribute(node.tag());
    view.value = event_value(node);
    view.citations = citation_list(node);
    view.path = std::move(path);
    return view;
}

void EventView::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::tag).string(tag);
    out.key(Key::label).string(label);
    out.key(Key::date).optional_string(date);
    out.key(Key::dateDisplay).optional_string(date_display);
    out.key(Key::year).optional_integer(year);
    out.key(Key::sortKey).optional_integer(sort_key);
    out.key(Key::place).optional_string(place);
    out.key(Key::age).optional_string(age);
    out.key(Key::cause).optional_string(cause);
    out.key(Key::attribute).boolean(attribute);
    out.key(Key::value).optional_string(value);
    out.key(Key::citations);
    write_array(out, citations);
    out.key(Key::path);
    write_array(out, path);
    out.end_object();
}

// ---- IndividualView ---------------------------------------------------------------

IndividualView IndividualView::from_node(const Node& record) {
    IndividualView view;
    view.xref = std::string(record.xref().value_or(""));
    const auto& children = record.children();
    for (std::size_t index = 0; index < children.size(); ++index) {
        const Node& child = children[index];
        const std::string_view tag = child.tag();
        if (tag == "NAME") {
            view.names.push_back(NameView::from_node(child));
        } else if (tag == "FAMC") {
            if (auto pointer = pointer_of(child)) {
                view.child_in.push_back(child_link(child, std::move(*pointer)));
            }
        } else if (tag == "FAMS") {
            if (auto pointer = pointer_of(child)) {
                view.partner_in.push_back({std::move(*pointer), std::nullopt});
            }
        } else if (tag == "SOUR") {
            if (auto pointer = pointer_of(child)) view.citations.push_back(std::move(*pointer));
        } else if (tag == "OBJE") {
            if (auto pointer = pointer_of(child)) view.media.push_back(std::move(*pointer));
        } else if (is_typed_identifier(tag)) {
            view.identifiers.push_back(identifier_view(child, true));
        } else if (tags::is_event(tag) || tags::is_attribute(tag)) {
            view.events.push_back(EventView::from_node(child, {index}));
        } else if (is_extension_identifier(tag)) {
            view.identifiers.push_back(identifier_view(child, false));
        }
    }
    if (const Node* sex = record.first("SEX")) view.sex = sex_in_words(*sex);
    return view;
}

void IndividualView::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::xref).string(xref);
    out.key(Key::names);
    write_array(out, names);
    out.key(Key::sex).optional_string(sex);
    out.key(Key::events);
    write_array(out, events);
    out.key(Key::childIn);
    write_array(out, child_in);
    out.key(Key::partnerIn);
    write_array(out, partner_in);
    out.key(Key::citations);
    write_array(out, citations);
    out.key(Key::media);
    write_array(out, media);
    out.key(Key::identifiers);
    write_array(out, identifiers);
    out.end_object();
}

// ---- FamilyView -------------------------------------------------------------------

FamilyView FamilyView::from_node(const Node& record) {
    FamilyView view;
    view.xref = std::string(record.xref().value_or(""));
    const auto& children = record.children();
    for (std::size_t index = 0; index < children.size(); ++index) {
        const Node& child = children[index];
        if (child.tag() == "CHIL") {
            if (auto pointer = pointer_of(child)) view.children.push_back(std::move(*pointer));
        } else if (tags::is_event(child.tag())) {
            view.events.push_back(EventView::from_node(child, {index}));
        }
    }
    // Only the first HUSB and WIFE count, pointer or not.
    if (const Node* husband = record.first("HUSB")) view.husband = pointer_of(*husband);
    if (const Node* wife = record.first("WIFE")) view.wife = pointer_of(*wife);
    return view;
}

std::vector<std::string> FamilyView::partners() const {
    std::vector<std::string> found;
    if (husband) found.push_back(*husband);
    if (wife) found.push_back(*wife);
    return found;
}

void FamilyView::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::xref).string(xref);
    out.key(Key::husband).optional_string(husband);
    out.key(Key::wife).optional_string(wife);
    out.key(Key::children);
    write_array(out, children);
    out.key(Key::events);
    write_array(out, events);
    out.end_object();
}

}  // namespace lignor
