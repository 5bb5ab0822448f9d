// Long lines under 5.5.1's limit: the one cutting rule, the document-wide
// wrap with its report, and the per-record fit.
#include "wrap.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "document.hpp"
#include "limits.hpp"
#include "value_writer.hpp"
#include "views.hpp"

namespace lignor {
namespace {

bool is_continuation_byte(char c) noexcept {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Decimal digits of a level number.
std::size_t digits(std::size_t level) noexcept {
    std::size_t count = 1;
    while (level >= 10) {
        level /= 10;
        ++count;
    }
    return count;
}

// Bytes of "{xref} " when the node has an identifier.
std::size_t xref_width(const Node& node) noexcept {
    const auto xref = node.xref();
    return xref ? xref->size() + 1 : 0;
}

// A continuation line that carries substructures or an identifier of its own
// would take them along when the run is rebuilt, so a structure with one is
// left as written.
bool continuation_carries_more(std::span<const Node> nodes) noexcept {
    return std::any_of(nodes.begin(), nodes.end(), [](const Node& child) {
        return is_continuation_tag(child.tag()) && (!child.children().empty() || child.xref());
    });
}

// Why a structure with a line over the limit is left as it is, in the words
// both edits report.
std::string too_deep(std::size_t max_depth) {
    return "its continuation lines would stand deeper than level " + std::to_string(max_depth);
}
constexpr std::string_view carries_more =
    "a CONT or CONC line of it has substructures or an identifier of its own";
constexpr std::string_view no_room =
    "its level, identifier and tag leave less than 4 bytes of room on a line";
constexpr std::string_view pointer_payload =
    "its payload is a pointer, which a CONC line would cut in two";
constexpr std::string_view as_read =
    "a line of it is still as read, which fit_line_limit leaves to wrap_long_lines";

// The largest cut position in [lo, w] that is a character boundary and
// passes `allowed`, or nothing.
template <typename Allowed>
std::optional<std::size_t> last_cut(std::string_view text, std::size_t lo, std::size_t w,
                                    Allowed allowed) {
    for (std::size_t p = w; p >= lo; --p) {
        if (!is_continuation_byte(text[p]) && allowed(p)) return p;
        if (p == lo) break;
    }
    return std::nullopt;
}

// Whether a cut at `p` falls between two '@': a reader that takes each
// line's "@@" for one '@' must find both halves of one on the same line.
bool between_at_signs(std::string_view text, std::size_t p) noexcept {
    return text[p - 1] == '@' && text[p] == '@';
}

// A cut at or below `p` (> 0) that leaves no "@@" in two: within a run of
// '@' the pairs count from the run's first '@'.
std::size_t keep_at_pairs(std::string_view text, std::size_t p) noexcept {
    if (!between_at_signs(text, p)) return p;
    std::size_t start = p - 1;
    while (start > 0 && text[start - 1] == '@') --start;
    // An odd cut is inside a pair, and the cut before that pair is not. A
    // piece of one byte cannot avoid it.
    if ((p - start) % 2 == 0 || p == 1) return p;
    return p - 1;
}

// Where the next piece of `text` (longer than `width`) ends.
std::size_t cut_position(std::string_view text, std::size_t width) {
    std::size_t w = width;
    while (w > 0 && is_continuation_byte(text[w])) --w;
    // No character starts within the width: the text is not UTF-8 there, and
    // cutting at the width is the only way forward.
    if (w == 0) return width;
    const std::size_t lo = std::max<std::size_t>(w / 2, 1);
    const auto clean = [&](std::size_t p) {
        return text[p - 1] != ' ' && !between_at_signs(text, p);
    };
    if (const auto p =
            last_cut(text, lo, w, [&](std::size_t p) { return clean(p) && text[p] != ' '; }))
        return *p;
    if (const auto p = last_cut(text, lo, w, clean)) return *p;
    return keep_at_pairs(text, w);
}

Node continuation(std::string_view tag, std::string_view piece) {
    Node node = Node::make(tag);
    if (!piece.empty()) node.set_value(piece);
    return node;
}

bool needs_wrap(const Node& node, std::size_t level, std::size_t max) noexcept {
    if (line_length(node, level) > max) return true;
    return std::any_of(node.children().begin(), node.children().end(), [&](const Node& child) {
        return is_continuation_tag(child.tag()) && line_length(child, level + 1) > max;
    });
}

// Replaces the node's payload and every CONT/CONC substructure with
// `payload` and `run`, the run ahead of the other substructures.
void replace_continuations(Node& node, std::optional<std::string_view> payload,
                           std::vector<Node>&& run) {
    NodeList children;
    children.reserve(run.size() + node.children().size());
    for (Node& piece : run) children.push_back(std::move(piece));
    for (Node& child : node.children_mut())
        if (!is_continuation_tag(child.tag())) children.push_back(std::move(child));
    node.children_mut() = std::move(children);
    node.set_value(payload);
}

std::optional<std::string_view> payload_of(std::string_view piece) {
    if (piece.empty()) return std::nullopt;
    return piece;
}

// Cuts the lines of `text` to the rooms: returns the first piece (the new
// payload) and appends the CONC and CONT lines that carry the rest to `run`.
std::string_view wrap_lines(std::string_view text, std::size_t first_room,
                            std::size_t continuation_room, std::vector<Node>& run) {
    std::size_t line_end = text.find('\n');
    const auto pieces = cut(text.substr(0, line_end), first_room, continuation_room);
    for (std::size_t i = 1; i < pieces.size(); ++i) run.push_back(continuation("CONC", pieces[i]));
    while (line_end != std::string_view::npos) {
        const std::size_t start = line_end + 1;
        line_end = text.find('\n', start);
        const std::string_view line =
            text.substr(start, line_end == std::string_view::npos ? line_end : line_end - start);
        const auto line_pieces = cut(line, continuation_room, continuation_room);
        run.push_back(continuation("CONT", line_pieces.front()));
        for (std::size_t i = 1; i < line_pieces.size(); ++i)
            run.push_back(continuation("CONC", line_pieces[i]));
    }
    return pieces.front();
}

// One segment for fit_line_limit: a head (the structure itself or a CONT)
// and the CONC run directly after it.
struct Segment {
    Node* head;
    std::span<Node> run;
};

// What re-cutting one segment came to: the new CONC run when anything
// changed (the head's payload is then replaced), or why a segment with a
// line over the limit stays as it is.
struct Resplit {
    std::optional<std::vector<Node>> run;
    std::string_view left_long;
};

// Re-cuts one segment whose head sits at `level` behind `prefix` bytes
// (level digits, identifier and tag), each line to fit `max_line_bytes`
// with two bytes to spare.
Resplit resplit_segment(const Segment& segment, std::size_t level, std::size_t prefix,
                        std::size_t max_line_bytes) {
    Node& head = *segment.head;
    const auto over = [&](const Node& node, std::size_t at) {
        return line_length(node, at) + 2 > max_line_bytes;
    };
    const bool long_line =
        over(head, level) || std::any_of(segment.run.begin(), segment.run.end(),
                                         [&](const Node& conc) { return over(conc, level + 1); });
    if (!long_line) return {};
    const auto has_verbatim = [](const Node& node) { return node.verbatim().has_value(); };
    if (has_verbatim(head) || std::any_of(segment.run.begin(), segment.run.end(), has_verbatim))
        return {std::nullopt, as_read};
    const std::string_view payload = head.value().value_or("");
    if (is_writable_xref(payload)) return {std::nullopt, pointer_payload};

    const std::size_t continuation_reserve = digits(level + 1) + 8;
    const std::size_t head_reserve = prefix + 4;
    if (max_line_bytes < continuation_reserve + 4 || max_line_bytes < head_reserve + 4)
        return {std::nullopt, no_room};
    std::string joined(payload);
    for (const Node& conc : segment.run) joined.append(conc.value().value_or(""));
    const auto pieces =
        cut(joined, max_line_bytes - head_reserve, max_line_bytes - continuation_reserve);
    std::vector<Node> run;
    run.reserve(pieces.size() - 1);
    for (std::size_t i = 1; i < pieces.size(); ++i) run.push_back(continuation("CONC", pieces[i]));
    head.set_value(payload_of(pieces.front()));
    return {std::move(run), {}};
}

// Re-splits the segments of the first `lead` substructures (all CONT or
// CONC) of `node` at `level`; true when any changed. `left_long` says why,
// when a segment with a line over the limit stays as it is.
bool fit_segments(Node& node, std::size_t level, std::size_t lead, std::size_t max_line_bytes,
                  std::string_view& left_long) {
    NodeList& children = node.children_mut();
    const std::span<Node> leading(children.data(), lead);
    // Segment heads and their runs, in order: the node itself, then each CONT.
    std::vector<Segment> segments;
    std::size_t start = 0;
    Node* head = &node;
    for (std::size_t i = 0; i <= lead; ++i) {
        if (i < lead && leading[i].tag() != "CONT") continue;
        segments.push_back({head, leading.subspan(start, i - start)});
        if (i < lead) {
            head = &leading[i];
            start = i + 1;
        }
    }

    std::vector<std::optional<std::vector<Node>>> runs;
    bool changed = false;
    for (std::size_t s = 0; s < segments.size(); ++s) {
        const std::size_t prefix =
            s == 0 ? digits(level) + xref_width(node) + node.tag().size() : digits(level + 1) + 4;
        Resplit resplit =
            resplit_segment(segments[s], s == 0 ? level : level + 1, prefix, max_line_bytes);
        if (left_long.empty()) left_long = resplit.left_long;
        changed = changed || resplit.run.has_value();
        runs.push_back(std::move(resplit.run));
    }
    if (!changed) return false;

    NodeList rebuilt;
    rebuilt.reserve(children.size());
    for (std::size_t s = 0; s < segments.size(); ++s) {
        if (s > 0) rebuilt.push_back(std::move(*segments[s].head));
        if (runs[s]) {
            for (Node& conc : *runs[s]) rebuilt.push_back(std::move(conc));
        } else {
            for (Node& conc : segments[s].run) rebuilt.push_back(std::move(conc));
        }
    }
    for (std::size_t i = lead; i < children.size(); ++i) rebuilt.push_back(std::move(children[i]));
    children = std::move(rebuilt);
    return true;
}

// The number of CONT and CONC substructures `node` begins with.
std::size_t leading_continuations(const Node& node) noexcept {
    const auto& children = node.children();
    std::size_t lead = 0;
    while (lead < children.size() && is_continuation_tag(children[lead].tag())) ++lead;
    return lead;
}

// The walk of fit_line_limit over one structure and, when asked, every
// structure below it: each re-split segment by segment. With a record name
// it lists, in document order, each structure it re-split and each whose
// line it leaves over the limit, and why.
class Fitter {
  public:
    Fitter(std::size_t max_line_bytes, std::size_t max_depth,
           std::optional<std::string_view> record = std::nullopt)
        : max_line_bytes_(max_line_bytes), max_depth_(max_depth), record_(record) {}

    // True when anything at `node` or below changed.
    bool fit(Node& node, std::size_t level, bool descend) {
        const std::size_t lead = leading_continuations(node);
        const std::span<const Node> leading(node.children().data(), lead);
        std::string reason;  // why a line over the limit stays as it is
        bool changed = false;
        if (level + 1 > max_depth_) {
            // Nothing here can take continuation lines the reader would accept.
            reason = too_deep(max_depth_);
        } else if (continuation_carries_more(leading)) {
            reason = carries_more;
        } else {
            std::string_view left_long;
            changed = fit_segments(node, level, lead, max_line_bytes_, left_long);
            reason = left_long;
        }
        if (record_) {
            if (changed) list(node, {});
            if (!reason.empty() && has_long_line(node, level)) list(node, std::move(reason));
        }
        if (!descend) return changed;
        NodeList& children = node.children_mut();
        for (std::size_t i = leading_continuations(node); i < children.size(); ++i) {
            path_.push_back(i);
            changed = fit(children[i], level + 1, true) || changed;
            path_.pop_back();
        }
        return changed;
    }

    std::vector<WrappedLine> report;

  private:
    bool has_long_line(const Node& node, std::size_t level) const {
        const auto over = [&](const Node& line, std::size_t at) {
            return line_length(line, at) + 2 > max_line_bytes_;
        };
        const std::span<const Node> leading(node.children().data(), leading_continuations(node));
        return over(node, level) || std::any_of(leading.begin(), leading.end(),
                                                [&](const Node& c) { return over(c, level + 1); });
    }

    void list(const Node& node, std::string reason) {
        report.push_back({std::string(*record_), path_, std::string(node.tag()), reason.empty(),
                          std::move(reason)});
    }

    std::size_t max_line_bytes_;
    std::size_t max_depth_;
    std::optional<std::string_view> record_;
    StructurePath path_;
};

}  // namespace

void WrappedLine::write_value(ValueWriter& out) const {
    out.start_object().key(Key::record).string(record).key(Key::path);
    write_array(out, path);
    out.key(Key::tag).string(tag).key(Key::wrapped).boolean(wrapped).key(Key::reason);
    if (wrapped) {
        out.null();
    } else {
        out.string(reason);
    }
    out.end_object();
}

std::vector<std::string_view> cut(std::string_view text, std::size_t first, std::size_t rest) {
    std::vector<std::string_view> pieces;
    // A zero width would make no progress.
    std::size_t width = std::max<std::size_t>(first, 1);
    while (text.size() > width) {
        const std::size_t p = cut_position(text, width);
        pieces.push_back(text.substr(0, p));
        text.remove_prefix(p);
        width = std::max<std::size_t>(rest, 1);
    }
    pieces.push_back(text);
    return pieces;
}

namespace {

// Why the structure `node` at `level`, which has a line over `max`, cannot be
// rewritten; empty when it can.
std::string left_as_written(const Node& node, std::string_view logical, std::size_t level,
                            std::size_t max, std::size_t max_depth) {
    if (level + 1 > max_depth) return too_deep(max_depth);
    if (continuation_carries_more(node.children())) return std::string(carries_more);
    const std::size_t prefix = digits(level) + 1 + xref_width(node) + node.tag().size() + 1;
    const std::size_t continuation_prefix = digits(level + 1) + 6;
    if (max < prefix + 4 || max < continuation_prefix + 4) return std::string(no_room);
    const std::string_view first_line = logical.substr(0, logical.find('\n'));
    if (first_line.size() > max - prefix && is_writable_xref(first_line)) {
        return std::string(pointer_payload);
    }
    return {};
}

// The walk of wrap_long_lines. A first walk (`apply` unset) measures what
// rewriting would add to the document, so that a rewrite past the bounds is
// refused before anything changes; the second makes it.
class Wrapper {
  public:
    Wrapper(std::size_t max, std::size_t max_depth, bool apply)
        : max_(max), max_depth_(max_depth), apply_(apply) {}

    void run(std::span<Node> records) {
        std::string_view record;
        // CONT and CONC lines belong to the structure above them; nothing in
        // or under one is a structure of its own to wrap.
        constexpr std::size_t none = SIZE_MAX;
        std::size_t continuation_level = none;
        walk_mut(records, [&](Node& node, std::span<const std::size_t> path) {
            const std::size_t level = path.size();
            if (level == 0) {
                record = node.xref().value_or(node.tag());
                in_header_ = is_header_tag(node.tag());
            }
            if (continuation_level != none && level > continuation_level) {
                if (line_length(node, level) > max_) {
                    list(record, path, node, "it stands under a CONT or CONC line");
                }
                return;
            }
            continuation_level = none;
            if (level > 0 && is_continuation_tag(node.tag())) {
                continuation_level = level;
                return;
            }
            visit(node, level, record, path);
        });
    }

    // What the walk found: the report, what rewriting adds to the text
    // (measured only by the first walk), and whether anything is rewritten.
    std::vector<WrappedLine> report;
    TextChange change;
    bool rewrites = false;

  private:
    void list(std::string_view record, std::span<const std::size_t> path, const Node& node,
              std::string reason) {
        report.push_back({std::string(record), StructurePath(path.begin(), path.end()),
                          std::string(node.tag()), reason.empty(), std::move(reason)});
    }

    void visit(Node& node, std::size_t level, std::string_view record,
               std::span<const std::size_t> path) {
        if (!needs_wrap(node, level, max_)) return;
        const std::string logical = node.logical_value();
        std::string reason = left_as_written(node, logical, level, max_, max_depth_);
        if (reason.empty()) rewrite(node, logical, level);
        list(record, path, node, std::move(reason));
    }

    void rewrite(Node& node, std::string_view logical, std::size_t level) {
        rewrites = true;
        const std::size_t prefix = digits(level) + 1 + xref_width(node) + node.tag().size() + 1;
        const std::size_t first_room = max_ - prefix;
        const std::size_t continuation_room = max_ - (digits(level + 1) + 6);
        std::vector<Node> run;
        const auto payload = payload_of(wrap_lines(logical, first_room, continuation_room, run));
        if (apply_) {
            replace_continuations(node, payload, std::move(run));
            return;
        }
        change.removed += logical_value_lines(node, level);
        change.touches_header = change.touches_header || in_header_;
        change.added.add_line(prefix - 1 + (payload ? payload->size() + 1 : 0));
        for (const Node& piece : run) change.added.add_line(line_length(piece, level + 1));
    }

    std::size_t max_;
    std::size_t max_depth_;
    bool apply_;
    bool in_header_ = false;
};

// The refusals wrap_long_lines and fit_line_limit share.
Status check_line_limit(const Document& document, std::size_t max_line_bytes) {
    if (document.is_version_7_or_later()) {
        return GedcomError::whole(
            ErrorKind::Structure,
            "version 7 has no CONC and no line limit, so there is nothing to wrap");
    }
    if (max_line_bytes < 32) {
        return GedcomError::whole(ErrorKind::Structure,
                                  "a line limit under 32 bytes leaves no room for a payload");
    }
    return ok();
}

}  // namespace

Result<std::vector<WrappedLine>> wrap_long_lines(Document& document, std::size_t max_line_bytes) {
    if (Status usable = check_line_limit(document, max_line_bytes); !usable) {
        return std::move(usable).take_error();
    }
    const std::size_t max = max_line_bytes - 1;
    const std::size_t max_depth = document.limits().max_depth;
    Wrapper measure(max, max_depth, false);
    measure.run(document.records);
    if (!measure.rewrites) return std::move(measure.report);
    if (Status admitted = document.admit(measure.change); !admitted) {
        return std::move(admitted).take_error();
    }
    Wrapper rewrite(max, max_depth, true);
    rewrite.run(document.records);
    return std::move(rewrite.report);
}

std::vector<WrappedLine> long_line_report(Node& record, std::size_t max_line_bytes) {
    Wrapper measure(max_line_bytes - 1, ParseLimits{}.max_depth, false);
    measure.run(std::span<Node>(&record, 1));
    return std::move(measure.report);
}

Result<std::vector<WrappedLine>> fit_line_limit(Document& document, std::string_view address,
                                                std::size_t max_line_bytes) {
    if (Status usable = check_line_limit(document, max_line_bytes); !usable) {
        return std::move(usable).take_error();
    }
    Node* record = document.addressed_record_mut(address);
    if (record == nullptr) {
        return GedcomError::whole(ErrorKind::Structure, "no record " + std::string(address));
    }
    // Fitted on a copy, so that a fit past the bounds changes nothing.
    Node fitted = *record;
    Fitter fitter(max_line_bytes, document.limits().max_depth,
                  record->xref().value_or(record->tag()));
    if (!fitter.fit(fitted, 0, true)) return std::move(fitter.report);
    TextChange change;
    change.removed = text_extent(*record, 0);
    change.added = text_extent(fitted, 0);
    change.touches_header = record == header(document);
    if (Status admitted = document.admit(change); !admitted)
        return std::move(admitted).take_error();
    *record = std::move(fitted);
    return std::move(fitter.report);
}

bool fit_node_inner(Node& node, std::size_t level, std::size_t max_line_bytes, bool descend,
                    std::size_t max_depth) {
    return Fitter(max_line_bytes, max_depth).fit(node, level, descend);
}

}  // namespace lignor
