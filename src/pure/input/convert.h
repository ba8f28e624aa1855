// One field's value from the JSON body, by the rules of its kind.
#pragma once

#include <optional>

#include "pure/input/json_document.h"
#include "pure/input/plan.h"
#include "pure/input/result.h"

namespace zembra::input {

// No member for the field.
inline constexpr std::uint32_t kNoNode = ~std::uint32_t{0};

// node: the member's value, or kNoNode when the body lacks the field.
// false only when the host failed (its error is pending).
bool convert_field(const FieldRule& rule, const Document& doc, std::uint32_t node, bool partial, Host& host,
                   FieldResult& out);

// Pieces the kinds share (convert_*.cc).
namespace detail {

// str() of a scalar node as the interpreter writes it (str, int, float,
// bool); false for containers and foreign nodes.
bool scalar_text(const Node& node, std::string& out);
// Same, asking the host for the rest.
bool any_text(const Document& doc, std::uint32_t index, Host& host, std::string& out, bool& host_failed);

bool convert_text_kind(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host, FieldResult& out);
bool convert_number_kind(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host,
                         FieldResult& out);
bool convert_other_kind(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host, FieldResult& out);

// An exact integer as Int when it fits 64 bits, else BigInt.
void set_integer(const ExactNumber& n, Value& value);

// The min_value / max_value checks, in the framework's order (max first).
void check_bounds(const FieldRule& rule, const Value& value, FieldResult& out);

}  // namespace detail
}  // namespace zembra::input
