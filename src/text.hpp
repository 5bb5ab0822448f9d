// A compact owned text for the fields of a tree node.
//
// A parsed 50 MB file holds millions of nodes, and most of their fields are
// short (tags of four letters, dates, small numbers), so a node cannot afford
// std::string's 32 bytes for each field plus an allocation for every one past
// fifteen bytes. `CompactText<Size>` occupies exactly `Size` bytes: texts of up
// to `Size - 1` bytes live inline, longer ones in one exactly sized heap block,
// which copies share (a block is never written after it is filled). At 16 and
// 24 bytes the object holds the block's address and the text's length; at 8
// (tags, which are seldom longer than 7 bytes) it holds the address in its low
// seven bytes, and the block begins with the length.
// It can also be absent, which is distinct from empty (a GEDCOM payload that is
// missing renders no space after the tag; an empty one renders the space).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "storage.hpp"

namespace lignor {

template <std::size_t Size>
class CompactText {
    static_assert(Size == 8 || Size == 16 || Size == 24,
                  "the layout below is written for 8, 16 and 24 bytes");
    static_assert(Size != 8 || (std::endian::native == std::endian::little && sizeof(void*) == 8),
                  "an 8-byte text keeps its marker in the top byte of a 64-bit address");

  public:
    CompactText() noexcept { set_absent(); }
    explicit CompactText(std::string_view text) { assign_present(text); }
    explicit CompactText(std::optional<std::string_view> text) {
        if (text)
            assign_present(*text);
        else
            set_absent();
    }
    // As the constructor above, for a text that lies inside a larger buffer
    // ending at `readable_end`: a short text is then copied as a whole inline
    // buffer when the bytes after it may be read, a fixed-size copy.
    CompactText(std::optional<std::string_view> text, const char* readable_end) {
        if (!text) {
            set_absent();
        } else if (text->size() <= inline_capacity && readable_end != nullptr &&
                   readable_end - text->data() >= static_cast<std::ptrdiff_t>(inline_capacity)) {
            std::memcpy(bytes_, text->data(), inline_capacity);
            bytes_[Size - 1] = static_cast<unsigned char>(text->size());
        } else {
            assign_present(*text);
        }
    }
    CompactText(const CompactText& other) { copy_from(other); }
    CompactText(CompactText&& other) noexcept {
        std::memcpy(bytes_, other.bytes_, Size);
        other.set_absent();
    }
    CompactText& operator=(const CompactText& other) {
        if (this != &other) {
            release();
            copy_from(other);
        }
        return *this;
    }
    CompactText& operator=(CompactText&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(bytes_, other.bytes_, Size);
            other.set_absent();
        }
        return *this;
    }
    ~CompactText() { release(); }

    bool present() const noexcept { return marker() != absent_marker; }

    // The text; empty when absent.
    std::string_view view() const noexcept {
        const unsigned char m = marker();
        if (m == heap_marker) return {heap_pointer(), heap_size()};
        if (m == absent_marker) return {};
        return {reinterpret_cast<const char*>(bytes_), m};
    }
    std::optional<std::string_view> optional() const noexcept {
        if (!present()) return std::nullopt;
        return view();
    }

    void assign(std::optional<std::string_view> text) {
        CompactText fresh(text);
        *this = std::move(fresh);
    }

    // Copies the text to `out` and returns its length (0 when absent). An
    // inline text is copied as the whole inline buffer, a fixed-size copy the
    // compiler turns into two moves, so `out` must have room for `Size - 1`
    // bytes beyond the text.
    std::size_t write_to(char* out) const noexcept {
        const unsigned char m = marker();
        if (m < Size) {
            std::memcpy(out, bytes_, Size - 1);
            return m;
        }
        if (m == heap_marker) {
            const std::size_t size = heap_size();
            std::memcpy(out, heap_pointer(), size);
            return size;
        }
        return 0;
    }

    // Whether this is `other` or a copy of it: the same bytes inline, or the
    // same heap block.
    bool same_as(const CompactText& other) const noexcept {
        return std::memcmp(bytes_, other.bytes_, Size) == 0;
    }

    // Heap bytes owned beyond the object itself (for memory accounting).
    std::size_t heap_bytes() const noexcept { return marker() == heap_marker ? heap_size() : 0; }

  private:
    static constexpr std::size_t inline_capacity = Size - 1;
    static constexpr unsigned char heap_marker = 0xFF;
    static constexpr unsigned char absent_marker = 0xFE;
    // Where the length lives: in the object, or (at 8 bytes) ahead of the text.
    static constexpr bool length_in_block = Size == 8;
    using SizeField = std::conditional_t<Size == 24, std::uint64_t, std::uint32_t>;
    static constexpr std::size_t block_header = length_in_block ? sizeof(SizeField) : 0;
    static constexpr std::uint64_t address_bits = (std::uint64_t{1} << 56) - 1;

    unsigned char marker() const noexcept { return bytes_[Size - 1]; }
    void set_absent() noexcept { bytes_[Size - 1] = absent_marker; }

    char* heap_block() const noexcept {
        std::uint64_t word;
        std::memcpy(&word, bytes_, sizeof word);
        if constexpr (length_in_block) word &= address_bits;
        return reinterpret_cast<char*>(static_cast<std::uintptr_t>(word));
    }
    const char* heap_pointer() const noexcept { return heap_block() + block_header; }
    std::size_t heap_size() const noexcept {
        SizeField size;
        if constexpr (length_in_block) {
            std::memcpy(&size, heap_block(), sizeof size);
        } else {
            std::memcpy(&size, bytes_ + sizeof(char*), sizeof size);
        }
        return static_cast<std::size_t>(size);
    }

    void assign_present(std::string_view text) {
        if (text.size() <= inline_capacity) {
            if (!text.empty()) std::memcpy(bytes_, text.data(), text.size());
            bytes_[Size - 1] = static_cast<unsigned char>(text.size());
            return;
        }
        if constexpr (!std::is_same_v<SizeField, std::uint64_t>) {
            if (text.size() > UINT32_MAX) throw std::bad_alloc();
        }
        char* block = static_cast<char*>(storage::allocate(block_header + text.size()));
        const auto size = static_cast<SizeField>(text.size());
        std::memcpy(block + block_header, text.data(), text.size());
        if constexpr (length_in_block) {
            const auto address = reinterpret_cast<std::uintptr_t>(block);
            if ((address & ~address_bits) != 0) {  // no 64-bit system hands these out today
                storage::release(block);
                throw std::bad_alloc();
            }
            std::memcpy(block, &size, sizeof size);
            std::memcpy(bytes_, &address, Size - 1);
        } else {
            std::memcpy(bytes_, &block, sizeof block);
            std::memcpy(bytes_ + sizeof(char*), &size, sizeof size);
        }
        bytes_[Size - 1] = heap_marker;
    }

    void copy_from(const CompactText& other) noexcept {
        std::memcpy(bytes_, other.bytes_, Size);
        if (marker() == heap_marker) storage::share(heap_block());
    }

    void release() noexcept {
        if (marker() == heap_marker) {
            char* block = heap_block();
            if (storage::leave(block)) storage::release(block);
        }
        set_absent();
    }

    alignas(8) unsigned char bytes_[Size];
};

}  // namespace lignor
