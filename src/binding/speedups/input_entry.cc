// parse_input(plan, body, *, partial=False, unknown="ignore").
#include <memory>

#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/speedups/input_plan.h"
#include "binding/speedups/input_values.h"
#include "binding/speedups/speedups_functions.h"
#include "pure/input/request.h"

namespace zembra::py {
namespace {

constexpr const char* kParsePositional[] = {"plan", "body"};
constexpr KeywordOnly kParseKeywords[] = {{"partial", false}, {"unknown", false}};
constexpr CallSignature kParseInputSig{"parse_input", nullptr, kParsePositional, 2, kParseKeywords};

// A buffer held for the whole call (a bytearray cannot be resized meanwhile).
class HeldBuffer {
 public:
  HeldBuffer() = default;
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() {
    if (held_) PyBuffer_Release(&view_);
  }
  Status hold(PyObject* obj) {
    if (PyObject_GetBuffer(obj, &view_, PyBUF_SIMPLE) == 0) {
      held_ = true;
      return {};
    }
    // A strided view (memoryview(b)[::2]) has no single span: its bytes in
    // order, as bytes() of it gives them, are read from a copy.
    if (!PyErr_ExceptionMatches(PyExc_BufferError)) return python_error();
    PyErr_Clear();
    ZB_TRY(copy_, checked(PyBytes_FromObject(obj)));
    return {};
  }
  std::string_view text() const {
    if (copy_) return {PyBytes_AS_STRING(copy_.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(copy_.get()))};
    return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
  bool held_ = false;
  Object copy_;
};

// The plan's scratch storage for the length of one read.
class ScratchLease {
 public:
  explicit ScratchLease(const InputPlanObject* plan) : plan_(const_cast<InputPlanObject*>(plan)) {
    bool expected = false;
    if (plan_->scratch_taken.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
      scratch_ = plan_->scratch.get();
    } else {
      own_ = std::make_unique<ReadScratch>();
      scratch_ = own_.get();
    }
  }
  ~ScratchLease() {
    scratch_->values.clear();
    scratch_->field_errors.clear();
    scratch_->doc.clear();
    if (own_) return;
    // A document far larger than usual is not kept for later reads.
    if (scratch_->doc.nodes.capacity() > 65536) scratch_->doc = input::Document();
    plan_->scratch_taken.store(false, std::memory_order_release);
  }
  ScratchLease(const ScratchLease&) = delete;
  ScratchLease& operator=(const ScratchLease&) = delete;
  ReadScratch& operator*() const { return *scratch_; }

 private:
  InputPlanObject* plan_;
  ReadScratch* scratch_ = nullptr;
  std::unique_ptr<ReadScratch> own_;
};

Result<Object> pair(const std::string& text, const char* code) {
  // Messages may quote the request's text, lone surrogates included.
  ZB_TRY(Object message, checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass")));
  ZB_TRY(Object code_text, checked(PyUnicode_InternFromString(code)));
  return checked(PyTuple_Pack(2, message.get(), code_text.get()));
}

Result<Object> message_list(const std::vector<input::Message>& messages, PyObject* prefix = nullptr) {
  ZB_TRY(Object list, checked(prefix ? PySequence_List(prefix) : PyList_New(0)));
  for (const input::Message& m : messages) {
    ZB_TRY(Object item, pair(m.text, m.code));
    if (PyList_Append(list.get(), item.get()) < 0) return python_error();
  }
  return list;
}

Result<Object> result_pair(PyObject* values, PyObject* errors) {
  ZB_TRY(Object pair, checked(PyTuple_New(2)));
  PyTuple_SET_ITEM(pair.get(), 0, Py_NewRef(values ? values : Py_None));
  PyTuple_SET_ITEM(pair.get(), 1, Py_NewRef(errors ? errors : Py_None));
  return pair;
}

Result<Object> parse_input_body(PyObject*, Slots slots) {
  ZB_TRY(const InputPlanObject* plan_obj, input_plan_argument(slots[0]));
  const input::Plan& plan = plan_obj->plan;
  PyObject* body = slots[1];
  input::ReadOptions options;
  if (slots[2]) {
    const int truth = PyObject_IsTrue(slots[2]);
    if (truth < 0) return python_error();
    options.partial = truth == 1;
  }
  if (slots[3]) {
    if (PyUnicode_Check(slots[3]) && PyUnicode_CompareWithASCIIString(slots[3], "reject") == 0) {
      options.reject_unknown = true;
    } else if (!PyUnicode_Check(slots[3]) || PyUnicode_CompareWithASCIIString(slots[3], "ignore") != 0) {
      PyErr_SetString(PyExc_ValueError, "unknown must be 'ignore' or 'reject'");
      return python_error();
    }
  }

  ScratchLease lease(plan_obj);
  input::Document& doc = (*lease).doc;
  input::RequestResult& result = (*lease).result;
  DictBody dict_body;
  HeldBuffer buffer;
  input::ParseResult parsed;
  if (PyDict_Check(body)) {
    ZB_CHECK_OK(document_from_dict(body, doc, dict_body));
  } else if (PyBytes_Check(body)) {
    parsed = input::parse_document({PyBytes_AS_STRING(body), static_cast<std::size_t>(PyBytes_GET_SIZE(body))}, true, doc);
  } else if (PyUnicode_Check(body)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(body, &size);
    if (data) {
      parsed = input::parse_document({data, static_cast<std::size_t>(size)}, false, doc);
    } else {
      // Lone surrogates in the text: read as the json module reads them.
      if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return python_error();
      PyErr_Clear();
      ZB_TRY(Object bytes, checked(PyUnicode_AsEncodedString(body, "utf-8", "surrogatepass")));
      dict_body.keep_alive.push_back(bytes);
      parsed = input::parse_document({PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))},
                                     false, doc);
    }
  } else if (PyObject_CheckBuffer(body)) {
    ZB_CHECK_OK(buffer.hold(body));
    parsed = input::parse_document(buffer.text(), true, doc);
  } else {
    (void)wrong_type(body, "bytes, bytearray, memoryview, str or dict");
    add_parameter_note("body");
    return python_error();
  }

  if (!parsed) {
    input::refuse_unparsable(parsed.error(), result);
  } else {
    InputHost host(dict_body);
    if (!input::read_request(plan, doc, options, host, result)) return python_error();
  }
  if (result.body_refused) {
    ZB_TRY(Object errors, checked(PyDict_New()));
    ZB_TRY(Object list, message_list(result.non_field_errors));
    if (PyDict_SetItemString(errors.get(), "non_field_errors", list.get()) < 0) return python_error();
    return result_pair(nullptr, errors.get());
  }

  // Fields whose checks need the interpreter go first; the values of the
  // others are only built when the whole body is valid.
  const std::size_t count = plan.fields.size();
  std::vector<Object>& values = (*lease).values;
  std::vector<Object>& field_errors = (*lease).field_errors;
  values.resize(count);
  field_errors.resize(count);
  bool any_error = !result.non_field_errors.empty();
  for (std::size_t i = 0; i < count; ++i) {
    input::FieldResult& r = result.fields[i];
    const FieldObjects& objects = plan_obj->objects[i];
    if (r.outcome == input::Outcome::Skip) continue;
    if (r.outcome == input::Outcome::Invalid) {
      any_error = true;
      continue;
    }
    if (!objects.validators && !r.value.needs_zone) {
      if (!r.errors.empty()) {
        r.outcome = input::Outcome::Invalid;
        any_error = true;
      }
      continue;
    }
    ZB_TRY(Object value, value_to_python(r.value, doc, dict_body, objects, plan.fields[i], &(*lease).kept));
    if (r.value.needs_zone) {
      input::Message problem;
      ZB_TRY(value, apply_zone(value.get(), objects.zone.get(), &problem));
      if (!value) {
        r.errors.assign(1, std::move(problem));
        r.outcome = input::Outcome::Invalid;
        any_error = true;
        continue;
      }
    }
    // As the framework does, a field's validators never see null.
    if (objects.validators && !Py_IsNone(value.get())) {
      ZB_TRY(Object caller_errors, run_validators(objects.validators.get(), value.get()));
      if (PyObject_IsTrue(caller_errors.get()) == 1 || !r.errors.empty()) {
        ZB_TRY(field_errors[i], message_list(r.errors, caller_errors.get()));
        r.outcome = input::Outcome::Invalid;
        any_error = true;
        continue;
      }
    } else if (!r.errors.empty()) {
      r.outcome = input::Outcome::Invalid;
      any_error = true;
      continue;
    }
    values[i] = std::move(value);
  }

  if (any_error) {
    ZB_TRY(Object errors, checked(PyDict_New()));
    for (std::size_t i = 0; i < count; ++i) {
      if (result.fields[i].outcome != input::Outcome::Invalid) continue;
      Object list = std::move(field_errors[i]);
      if (!list) {
        ZB_TRY(list, message_list(result.fields[i].errors));
      }
      if (PyDict_SetItem(errors.get(), plan_obj->objects[i].name.get(), list.get()) < 0) return python_error();
    }
    if (!result.non_field_errors.empty()) {
      ZB_TRY(Object list, message_list(result.non_field_errors));
      if (PyDict_SetItemString(errors.get(), "non_field_errors", list.get()) < 0) return python_error();
    }
    return result_pair(nullptr, errors.get());
  }
  ZB_TRY(Object out, checked(PyDict_Copy(plan_obj->template_dict.get())));
  for (std::size_t i = 0; i < count; ++i) {
    const input::FieldResult& r = result.fields[i];
    if (r.outcome != input::Outcome::Valid) {
      if (PyDict_DelItem(out.get(), plan_obj->objects[i].name.get()) < 0) return python_error();
      continue;
    }
    Object value = std::move(values[i]);
    if (!value) {
      ZB_TRY(value, value_to_python(r.value, doc, dict_body, plan_obj->objects[i], plan.fields[i], &(*lease).kept));
    }
    if (PyDict_SetItem(out.get(), plan_obj->objects[i].name.get(), value.get()) < 0) return python_error();
  }
  return result_pair(out.get(), nullptr);
}

}  // namespace

PyMethodDef kParseInputDef = {
    "parse_input", fast_method<kParseInputSig, parse_input_body>(), METH_FASTCALL | METH_KEYWORDS,
    "parse_input(plan, body, *, partial=False, unknown='ignore')\n--\n\n"
    "Reads a request body against an InputPlan with Django REST framework's\n"
    "input rules.\n\n"
    "body is JSON text (bytes, bytearray, memoryview or str) or an already\n"
    "parsed dict. Returns (values, None) with the converted value of every\n"
    "field present, or (None, errors) with {field: [(message, code), ...]};\n"
    "problems of the body as a whole (malformed JSON, not an object, unknown\n"
    "keys with unknown='reject') are listed under 'non_field_errors'.\n"
    "Request data never raises; only a validator's own exception does."};

}  // namespace zembra::py
