// Encoding detection: the byte-order mark, the shape of the first bytes and
// the header's CHAR line decide, unless the caller names the encoding; the
// decoders of decode_*.cpp turn the bytes into UTF-8 text, and the report
// says in one line how and why.
#include "decode.hpp"

#include "ascii.hpp"
#include "decode_parts.hpp"
#include "node_line.hpp"
#include "storage.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor {
namespace {

using decode_parts::Encoding;
using decode_parts::encoding_by_mark;
using decode_parts::is_utf16;
using decode_parts::name_of;

constexpr std::size_t declaration_window = 8192;

struct Choice {
    GedcomEncoding encoding;
    std::optional<std::string> note = std::nullopt;
    std::optional<CodePage> code_page = std::nullopt;
};

// The header's CHAR value, and the encoding it names when a GEDCOM file
// could be in that encoding.
struct Declaration {
    std::optional<std::string> value;
    std::optional<NamedEncoding> named;
};

// UTF-16 without a mark, recognised by exactly one zero in the first two
// bytes: "0" of "0 HEAD" and its zero high byte.
[[gnu::hot]] std::optional<GedcomEncoding> utf16_by_structure(std::string_view bytes) {
    if (bytes.size() < 2 || (bytes[0] == 0) == (bytes[1] == 0)) return std::nullopt;
    return bytes[1] == 0 ? GedcomEncoding::Utf16Le : GedcomEncoding::Utf16Be;
}

// True when `page` reads what GEDCOM lines are made of as ASCII (digits,
// letters, space, '@' and '_', tab and line breaks), as a file whose CHAR
// line could be read byte by byte must. Other punctuation may differ: code
// page 864 reads '%' as the Arabic percent sign.
bool reads_gedcom_lines(const CodePage& page) {
    std::string ascii = " @_\t\n\r";
    for (char c = '0'; c <= '9'; ++c) ascii.push_back(c);
    for (char c = 'A'; c <= 'Z'; ++c) ascii.append({c, ascii::to_lower(c)});
    EncodingReport scratch;
    return decode_code_page(ascii, page, scratch) == ascii;
}

[[gnu::hot]] Declaration declaration_of(std::string_view bytes,
                                        std::optional<GedcomEncoding> encoding) {
    Declaration declaration{declared_charset(bytes, encoding), std::nullopt};
    if (!declaration.value) return declaration;
    declaration.named = encoding_named(*declaration.value);
    if (declaration.named && declaration.named->code_page &&
        !reads_gedcom_lines(*declaration.named->code_page))
        declaration.named.reset();
    return declaration;
}

void record(const Declaration& declaration, EncodingReport& report) {
    report.declared = declaration.value;
    report.declared_unrecognised = declaration.value && !declaration.named;
}

std::string unrecognised(const std::string& declared) {
    return "Unrecognized CHAR value " + quoted(declared);
}

[[gnu::hot]] Choice choose_by_declaration(const Declaration& declaration, std::string_view bytes,
                                          bool valid_utf8) {
    if (!declaration.value) {
        if (valid_utf8) return {GedcomEncoding::Utf8};
        return {GedcomEncoding::Ansel,
                "File declares no CHAR and is not valid UTF-8; read as ANSEL, the GEDCOM 5.5 "
                "default."};
    }
    if (!declaration.named) {
        // An unknown name on bytes that are not UTF-8 is most often a Latin
        // code page: Windows-1252 keeps every byte as a character, where
        // UTF-8 would lose each accented letter.
        if (!valid_utf8) {
            return {GedcomEncoding::Windows1252,
                    unrecognised(*declaration.value) +
                        " and the file is not valid UTF-8; read as Windows-1252."};
        }
        return {GedcomEncoding::Utf8, unrecognised(*declaration.value) + "; read as UTF-8."};
    }
    const NamedEncoding& named = *declaration.named;
    if (is_utf16(named.encoding)) {
        return {GedcomEncoding::Utf8,
                "File declares UNICODE but has no byte-order mark and no UTF-16 structure; read "
                "as UTF-8."};
    }
    // Text in ASCII or a code page is almost never valid UTF-8 once it holds
    // a byte past ASCII, while a file converted to UTF-8 with its CHAR line
    // left as it was is common: such text is read as what it is.
    const bool utf8_wins = named.code_page || named.encoding == GedcomEncoding::Ascii;
    if (utf8_wins && valid_utf8 && decode_parts::skip_ascii(bytes, 0) < bytes.size()) {
        return {GedcomEncoding::Utf8, "File declares " +
                                          std::string(name_of(named.encoding, named.code_page)) +
                                          " but is valid UTF-8; read as UTF-8."};
    }
    return {named.encoding, {}, named.code_page};
}

// Marks, UTF-16 structure and the declaration, in that order. `body` loses
// the mark; `valid_utf8` is set when the whole file was checked.
[[gnu::hot]] Choice detect(std::string_view& body, EncodingReport& report,
                           std::optional<bool>& valid_utf8) {
    const std::string_view bytes = body;
    if (const Encoding* mark = encoding_by_mark(bytes)) {
        report.bom = true;
        body.remove_prefix(mark->mark.size());
        record(declaration_of(
                   bytes, is_utf16(mark->encoding) ? std::optional(mark->encoding) : std::nullopt),
               report);
        return {mark->encoding};
    }
    if (const auto utf16 = utf16_by_structure(bytes)) {
        report.notes.push_back("File is " + std::string(to_string(*utf16)) +
                               " but carries no byte-order mark.");
        record(declaration_of(bytes, utf16), report);
        return {*utf16};
    }
    const Declaration declaration = declaration_of(bytes, std::nullopt);
    record(declaration, report);
    valid_utf8 = is_valid_utf8(bytes);
    return choose_by_declaration(declaration, bytes, *valid_utf8);
}

// The byte order of UTF-16 that `bytes` show by a mark, else by their shape.
std::optional<GedcomEncoding> utf16_shown(std::string_view bytes, const Encoding* mark) {
    if (mark && is_utf16(mark->encoding)) return mark->encoding;
    if (mark) bytes.remove_prefix(mark->mark.size());
    return utf16_by_structure(bytes);
}

// Bytes a caller says are UTF-16 that show another byte order, or none.
GedcomError not_utf16(std::string_view chosen, std::optional<GedcomEncoding> shown) {
    if (shown) {
        return GedcomError::whole(
            ErrorKind::Syntax,
            "the data is " + std::string(to_string(*shown)) + ", not " + std::string(chosen));
    }
    return GedcomError::whole(ErrorKind::Syntax,
                              "the data is not " + std::string(chosen) +
                                  ": it has no UTF-16 byte-order mark and does not begin as "
                                  "UTF-16 text does");
}

// The caller's encoding, whatever the file says. A byte-order mark of
// another encoding is dropped and reported as ignored. UTF-16 is refused for
// bytes that show neither its mark nor its shape, which would read as no
// line at all.
[[gnu::hot]] Result<Choice> follow_caller(const NamedEncoding& chosen, std::string_view& body,
                                          EncodingReport& report) {
    report.chosen_by_caller = true;
    const Encoding* mark = encoding_by_mark(body);
    GedcomEncoding encoding = chosen.encoding;
    if (chosen.either_byte_order || is_utf16(encoding)) {
        const auto shown = utf16_shown(body, mark);
        if (chosen.either_byte_order && shown) encoding = *shown;
        const std::size_t text = body.size() - (mark ? mark->mark.size() : 0);
        if (shown != encoding && text >= 2)
            return not_utf16(chosen.either_byte_order ? "UTF-16" : to_string(encoding), shown);
    }
    if (mark) {
        body.remove_prefix(mark->mark.size());
        if (mark->encoding == encoding) {
            report.bom = true;
        } else {
            report.ignored_bom = mark->encoding;
            report.notes.push_back("File begins with a " + std::string(to_string(mark->encoding)) +
                                   " byte-order mark; it was ignored because the caller chose " +
                                   std::string(name_of(encoding, chosen.code_page)) + ".");
        }
    }
    record(declaration_of(body, is_utf16(encoding) ? std::optional(encoding) : std::nullopt),
           report);
    return Choice{encoding, {}, chosen.code_page};
}

[[gnu::hot]] std::string latin1_to_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 16);
    for (char c : bytes) unicode::append_utf8(out, static_cast<unsigned char>(c));
    return out;
}

// The value of a "1 CHAR " line, or nothing when the line is not one.
[[gnu::hot]] std::optional<std::string> charset_of_line(std::string_view line) {
    line = unicode::trim_end(line);
    constexpr std::string_view prefix = "1 CHAR ";
    if (!line.starts_with(prefix)) return std::nullopt;
    return std::string(unicode::trim(line.substr(prefix.size())));
}

// The tag of a level-0 line as the document reader reads it ("0 HEAD",
// "00 @H1@ Head"), or nothing for any other line.
[[gnu::hot]] std::optional<std::string_view> record_tag_of_line(std::string_view line) {
    ParsedLine parsed;
    if (read_line(line, 0, parsed) != LineFault::None) return std::nullopt;
    return parsed.tag;
}

[[gnu::hot]] std::string decode_choice(std::string_view body, const Choice& choice,
                                       EncodingReport& report) {
    if (choice.encoding == GedcomEncoding::CodePage)
        return decode_code_page(body, *choice.code_page, report);
    return decode_as(body, choice.encoding, report);
}

}  // namespace

std::string EncodingReport::encoding_name() const {
    return encoding ? std::string(name_of(*encoding, code_page)) : "unknown";
}

std::string EncodingReport::summary() const {
    std::string out = "Read as " + encoding_name();
    if (bom) out += " (byte-order mark)";
    if (chosen_by_caller) out += ", chosen by the caller";
    if (ignored_bom)
        out += ", " + std::string(to_string(*ignored_bom)) + " byte-order mark ignored";
    if (declared) {
        out += ", declared ";
        out += *declared;
        if (declared_unrecognised) out += " (unrecognized)";
    } else {
        out += ", no CHAR declared";
    }
    if (undecodable > 0) out += ", " + std::to_string(undecodable) + " byte(s) undecodable";
    if (stray_bytes > 0)
        out += ", " + std::to_string(stray_bytes) + " invalid byte(s) read as Windows-1252";
    return out;
}

[[gnu::hot]] std::string decode_as(std::string_view bytes, GedcomEncoding encoding,
                                   EncodingReport& report) {
    if (encoding == GedcomEncoding::CodePage)
        throw InternalFailure(
            "decode_as reads the six encodings; a code page needs "
            "decode_code_page");
    return decode_parts::encoding_row(encoding).decode(bytes, report);
}

[[gnu::hot]] std::optional<std::string> declared_charset(std::string_view bytes,
                                                         std::optional<GedcomEncoding> encoding) {
    std::string_view window = bytes.substr(0, std::min(bytes.size(), declaration_window));
    const bool utf16 = encoding && is_utf16(*encoding);
    // A byte-order mark is not text: without this the header's first line
    // would not read as a line.
    const std::string_view mark =
        decode_parts::encoding_row(utf16 ? *encoding : GedcomEncoding::Utf8).mark;
    if (window.starts_with(mark)) window.remove_prefix(mark.size());
    std::string text;
    if (utf16) {
        EncodingReport scratch;
        text = decode_as(window, *encoding, scratch);
    } else {
        text = latin1_to_utf8(window);
    }
    // Only a CHAR line of the header counts: the first record tagged HEAD in
    // any case, as the document's header() picks it, so that what to_bytes
    // declares is what the next read obeys. Lines end in LF, CR LF or a lone
    // CR (classic Macintosh files).
    bool in_header = false;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = rest.find_first_of("\r\n");
        const std::string_view line = rest.substr(0, end);
        if (const auto tag = record_tag_of_line(line)) {
            if (in_header) break;
            in_header = ascii::iequals(*tag, "HEAD");
        } else if (in_header) {
            if (auto value = charset_of_line(line)) return value;
        }
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return std::nullopt;
}

[[gnu::hot]] void DecodedText::discard_before(std::size_t offset) noexcept {
    offset = std::min(offset, owned_.size());
    if (borrowed_ || offset <= discarded_) return;
    discarded_ += storage::discard(owned_.data() + discarded_, offset - discarded_);
}

[[gnu::hot]] Result<DecodedText> decode_gedcom_with(std::string_view bytes,
                                                    const ParseLimits& limits,
                                                    const std::optional<NamedEncoding>& chosen) {
    if (bytes.size() > limits.max_file_bytes) {
        return GedcomError::whole(ErrorKind::Limit,
                                  file_size_message(bytes.size(), limits.max_file_bytes));
    }
    EncodingReport report;
    std::string_view body = bytes;
    std::optional<bool> valid_utf8;
    Result<Choice> choice = chosen ? follow_caller(*chosen, body, report)
                                   : Result<Choice>(detect(body, report, valid_utf8));
    if (!choice) return std::move(choice).take_error();
    if (choice->note) report.notes.push_back(std::move(*choice->note));
    report.encoding = choice->encoding;
    report.code_page = choice->code_page;
    // Valid UTF-8 read as UTF-8 is the text itself: no copy.
    if (choice->encoding == GedcomEncoding::Utf8 &&
        (valid_utf8 ? *valid_utf8 : is_valid_utf8(body)))
        return DecodedText(body, std::move(report));
    std::string text = decode_choice(body, *choice, report);
    if (report.stray_bytes > 0) {
        report.notes.push_back("File holds " + std::to_string(report.stray_bytes) +
                               " byte(s) of invalid UTF-8; each was read as Windows-1252.");
    }
    if (report.undecodable > 0) {
        report.notes.push_back(std::to_string(report.undecodable) + " byte(s) had no mapping in " +
                               report.encoding_name() + " and were replaced with U+FFFD.");
    }
    return DecodedText(std::move(text), std::move(report));
}

}  // namespace lignor
