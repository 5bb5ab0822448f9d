// The version 7 check's index of record identifiers, private to it: which
// record holds an identifier (ignoring ASCII case) and of what type, and
// which records repeat one.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "ascii.hpp"
#include "node.hpp"
#include "queries.hpp"
#include "v7defs.hpp"

namespace lignor::v7check {

// Identifier to the first record holding it, ignoring ASCII case, and that
// record's type. A pointer check looks up nearly every pointer of a file, so
// the look-up must touch little memory: identifiers of the usual numbered
// form ("@I123@": a short prefix and a number written without leading
// zeros) go to one dense array per prefix, indexed by the number, when the
// numbers are dense enough; the others to an open-addressed table whose
// slots hold short identifiers themselves.
class IdentifierIndex {
  public:
    struct Found {
        std::uint32_t record = 0;  // position + 1, 0 when no record has the identifier
        std::uint16_t type = v7table::no_type;
    };

    void reserve(std::size_t records) { types_.assign(records, v7table::no_type); }

    // Adds the identifier of the record at `position` (ascending), of `type`.
    void add(std::string_view xref, std::uint32_t position, std::uint16_t type) {
        types_[position] = type;
        if (const auto number = numbered(xref)) {
            if (Numbered* group = group_of(number->first)) {
                group->members.push_back({number->second, position});
                return;
            }
        }
        others_.push_back(position);
    }

    // Builds the look-ups once every record is added; returns each later
    // record holding an identifier already taken, with the first, in order.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> finish(const std::vector<Node>& records) {
        records_ = &records;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> duplicates;
        build_dense(duplicates);
        build_slots(duplicates);
        std::ranges::sort(duplicates);
        return duplicates;
    }

    Found find(std::string_view xref) const noexcept {
        if (const auto number = numbered(xref)) {
            if (const Dense* dense = dense_of(number->first)) {
                return number->second < dense->records.size() ? dense->records[number->second]
                                                              : Found{};
            }
        }
        const Slot* slot = slot_of(xref);
        return slot == nullptr ? Found{} : Found{slot->record, types_[slot->record - 1]};
    }

  private:
    // The numbered identifiers of one prefix, in record order.
    struct Numbered {
        struct Member {
            std::uint32_t number;
            std::uint32_t position;
        };
        std::uint32_t prefix;
        std::vector<Member> members;
    };
    // A file uses a handful of prefixes; the identifiers of any beyond
    // these go to the table.
    static constexpr std::size_t most_prefixes = 16;
    struct Dense {
        std::uint32_t prefix;
        std::vector<Found> records;  // by number
    };
    struct Slot {
        static constexpr std::uint8_t elsewhere = UINT8_MAX;
        std::uint32_t record = 0;       // position + 1, 0 for an empty slot
        std::uint8_t size = elsewhere;  // of `text`, or elsewhere when it does not fit
        std::array<char, 11> text{};    // the identifier between its two '@'
    };
    static_assert(sizeof(Slot) == 16);

    // "@I123@" as its prefix (up to four letters or '_', upper-cased, packed)
    // and its number, when written in that form without leading zeros.
    static std::optional<std::pair<std::uint32_t, std::uint32_t>> numbered(
        std::string_view xref) noexcept {
        if (xref.size() < 4) return std::nullopt;
        const std::string_view inner = xref.substr(1, xref.size() - 2);
        std::uint32_t prefix = 0;
        std::size_t at = 0;
        for (; at < inner.size() && !ascii::is_digit(inner[at]); ++at) {
            const char c = ascii::to_upper(inner[at]);
            if (at == 4 || !(ascii::is_upper(c) || c == '_')) return std::nullopt;
            prefix = prefix << 8U | static_cast<unsigned char>(c);
        }
        const std::string_view digits = inner.substr(at);
        if (at == 0 || digits.empty() || digits.size() > 7 ||
            (digits[0] == '0' && digits.size() > 1))
            return std::nullopt;
        std::uint32_t number = 0;
        for (const char c : digits) {
            if (!ascii::is_digit(c)) return std::nullopt;
            number = number * 10 + static_cast<std::uint32_t>(c - '0');
        }
        return std::pair{prefix, number};
    }

    // The group of `prefix`, made when there is room for one more; the
    // previous identifier's group is tried first, since records of one kind
    // tend to follow one another.
    Numbered* group_of(std::uint32_t prefix) {
        if (last_group_ < numbered_.size() && numbered_[last_group_].prefix == prefix)
            return &numbered_[last_group_];
        const auto found = std::ranges::find(numbered_, prefix, &Numbered::prefix);
        if (found == numbered_.end() && numbered_.size() == most_prefixes) return nullptr;
        last_group_ = static_cast<std::size_t>(found - numbered_.begin());
        if (found == numbered_.end()) numbered_.push_back({prefix, {}});
        return &numbered_[last_group_];
    }

    const Dense* dense_of(std::uint32_t prefix) const noexcept {
        for (const Dense& dense : dense_)
            if (dense.prefix == prefix) return &dense;
        return nullptr;
    }

    // One array per prefix whose numbers are dense enough to pay for it; the
    // identifiers of any other prefix join the table.
    void build_dense(std::vector<std::pair<std::uint32_t, std::uint32_t>>& duplicates) {
        for (const Numbered& group : numbered_) {
            const std::uint32_t most =
                std::ranges::max(group.members, {}, &Numbered::Member::number).number;
            if (most > 4 * group.members.size() + 64) {
                for (const Numbered::Member& each : group.members) others_.push_back(each.position);
                continue;
            }
            Dense& dense = dense_.emplace_back(Dense{group.prefix, {}});
            dense.records.assign(most + std::size_t{1}, Found{});
            // Positions ascend within a prefix: the first holder comes first.
            for (const Numbered::Member& each : group.members) {
                Found& entry = dense.records[each.number];
                if (entry.record == 0) {
                    entry = {each.position + 1, types_[each.position]};
                } else {
                    duplicates.emplace_back(each.position, entry.record - 1);
                }
            }
        }
        numbered_ = {};
    }

    void build_slots(std::vector<std::pair<std::uint32_t, std::uint32_t>>& duplicates) {
        std::ranges::sort(others_);  // the first record holding an identifier comes first
        slots_.assign(std::bit_ceil(others_.size() + others_.size() / 2 + 2), Slot{});
        const std::size_t mask = slots_.size() - 1;
        for (const std::uint32_t position : others_) {
            const std::string_view xref = *(*records_)[position].xref();
            std::size_t at = hash(xref) & mask;
            while (slots_[at].record != 0 && !holds(slots_[at], xref)) at = (at + 1) & mask;
            Slot& slot = slots_[at];
            if (slot.record != 0) {
                duplicates.emplace_back(position, slot.record - 1);
                continue;
            }
            slot.record = position + 1;
            const std::string_view inner = xref.substr(1, xref.size() - 2);
            if (inner.size() <= slot.text.size()) {
                slot.size = static_cast<std::uint8_t>(inner.size());
                std::ranges::copy(inner, slot.text.begin());
            }
        }
        others_ = {};
    }

    static std::uint64_t hash(std::string_view xref) noexcept {
        std::uint64_t hash = 0xCBF29CE484222325u;
        for (const char c : xref)
            hash = (hash ^ static_cast<unsigned char>(ascii::to_upper(c))) * 0x100000001B3u;
        return hash;
    }

    // Whether a filled slot holds `xref`.
    bool holds(const Slot& slot, std::string_view xref) const noexcept {
        if (slot.size == Slot::elsewhere)
            return same_xref(*(*records_)[slot.record - 1].xref(), xref);
        return ascii::iequals(std::string_view(slot.text.data(), slot.size),
                              xref.substr(1, xref.size() - 2));
    }

    const Slot* slot_of(std::string_view xref) const noexcept {
        if (slots_.empty()) return nullptr;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash(xref) & mask; slots_[at].record != 0; at = (at + 1) & mask) {
            if (holds(slots_[at], xref)) return &slots_[at];
        }
        return nullptr;
    }

    const std::vector<Node>* records_ = nullptr;
    std::vector<std::uint16_t> types_;  // by record position
    std::vector<Numbered> numbered_;    // by prefix, while adding
    std::size_t last_group_ = 0;
    std::vector<std::uint32_t> others_;  // positions, while adding
    std::vector<Dense> dense_;
    std::vector<Slot> slots_;
};

}  // namespace lignor::v7check
