// Interpreter objects for parse_input: values from the native results, the
// document of a dict body, and the host the native reader calls back.
#pragma once

#include <vector>

#include "binding/core/error.h"
#include "binding/speedups/input_plan.h"
#include "binding/speedups/input_strings.h"
#include "pure/input/result.h"

namespace zembra::py {

// Objects a document built from a dict points into or stands for.
struct DictBody {
  std::vector<Object> keep_alive;  // str objects whose UTF-8 the nodes use
  std::vector<Object> foreign;     // Foreign nodes, by Node::foreign
  // The dict, list and tuple objects of Array and Object nodes, by
  // Node::foreign: a value is handed back as the object it was (a tuple
  // stays a tuple, a dict subclass its class), as the framework does.
  std::vector<PyObject*> containers;  // borrowed: each is held by keep_alive or is the body
  bool from_dict = false;
};

// The document of an already-parsed body (a dict of JSON values; other
// objects become foreign nodes).
Status document_from_dict(PyObject* dict, input::Document& doc, DictBody& body);

// The JSON value at a node (a foreign node gives its object).
Result<Object> node_to_python(const input::Document& doc, std::uint32_t index, const DictBody& body);

// A field's value. Does not apply the zone (see apply_zone). kept, when
// given, supplies short ASCII texts and argument tuples.
Result<Object> value_to_python(const input::Value& value, const input::Document& doc, const DictBody& body,
                               const FieldObjects& objects, const input::FieldRule& rule, KeptObjects* kept);

// DateTimeField.enforce_timezone by the interpreter, for values marked
// needs_zone: the datetime, or an empty Object with *error set.
Result<Object> apply_zone(PyObject* datetime, PyObject* zone, input::Message* error);

// The caller's validators on a value: a list of (message, code) tuples.
Result<Object> run_validators(PyObject* validators, PyObject* value);

class InputHost : public input::Host {
 public:
  explicit InputHost(const DictBody& body) : body_(body) {}
  bool text_of(const input::Document& doc, std::uint32_t node, std::string& out) override;
  bool check(Check check, std::string_view text, bool& valid) override;
  bool duration_of(const input::Document& doc, std::uint32_t node, input::Duration& out) override;
  bool json_dumpable(const input::Document& doc, std::uint32_t node, bool& dumpable) override;

 private:
  const DictBody& body_;
};

// A str of UTF-8 text that may hold lone surrogates (flags as in the document).
Result<Object> text_to_python(std::string_view text, std::uint8_t flags, KeptObjects* kept = nullptr);

}  // namespace zembra::py
