#include "binding/core/schema_type.h"

#include <new>
#include <string>

#include "binding/core/convert.h"
#include "binding/core/field_type.h"
#include "binding/core/frame.h"
#include "binding/core/module_builder.h"
#include "binding/core/to_python.h"

namespace zembra::py {
namespace {

PyTypeObject* type_cell = nullptr;

constexpr const char* kSchemaPositional[] = {"fields"};
constexpr CallSignature kSchemaSignature{"__new__", "Schema", kSchemaPositional, 1, {}};

Result<Object> schema_new(PyTypeObject* type, Slots slots) {
  PyObject* fields = slots[0];
  if (!PyDict_Check(fields)) {
    (void)wrong_type(fields, "dict");
    add_parameter_note("fields");
    return python_error();
  }
  PyTypeObject* field_cls = field_type();
  if (!field_cls) return python_error();

  CompiledSchema compiled;
  std::vector<Object> keys;
  Py_ssize_t count = PyDict_GET_SIZE(fields);
  compiled.fields.reserve(count);
  compiled.names.reserve(count);
  keys.reserve(count);

  // Walk the dict's own storage: a subclass's iteration hooks are not used.
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  while (PyDict_Next(fields, &pos, &key, &value)) {
    ZB_TRY(std::string_view name, to_text(key));
    if (!PyObject_TypeCheck(value, field_cls)) return wrong_type(value, "Field");
    ZB_TRY(Object interned,
           checked(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()))));
    PyObject* raw = interned.release();
    PyUnicode_InternInPlace(&raw);
    keys.push_back(Object::steal(raw));
    compiled.add(std::string(name), reinterpret_cast<FieldObject*>(value)->rules);
  }

  compiled.finish();
  std::vector<PyObject*> key_pointers;
  for (const Object& key : keys) key_pointers.push_back(key.get());
  ZB_TRY(Object shape, record_template(key_pointers, compiled.sorted_order));

  ZB_TRY(Object self, checked(type->tp_alloc(type, 0)));
  auto* obj = reinterpret_cast<SchemaObject*>(self.get());
  new (&obj->schema) CompiledSchema(std::move(compiled));
  new (&obj->keys) std::vector<Object>(std::move(keys));
  new (&obj->key_pointers) std::vector<PyObject*>(std::move(key_pointers));
  new (&obj->record_template) Object(std::move(shape));
  return self;
}

Py_ssize_t schema_len(PyObject* self) {
  return run_guarded_size([&]() -> Result<Py_ssize_t> {
    return static_cast<Py_ssize_t>(reinterpret_cast<SchemaObject*>(self)->schema.size());
  });
}

PyObject* schema_repr(PyObject* self) {
  return run_guarded([&]() -> Result<Object> {
    std::size_t n = reinterpret_cast<SchemaObject*>(self)->schema.size();
    std::string text = "Schema(" + std::to_string(n) + " fields)";
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  });
}

PyObject* schema_field_names(PyObject* self, void*) {
  return run_guarded([&]() -> Result<Object> {
    const auto& names = reinterpret_cast<SchemaObject*>(self)->schema.names;
    ZB_TRY(Object list, checked(PyList_New(static_cast<Py_ssize_t>(names.size()))));
    for (std::size_t i = 0; i < names.size(); ++i) {
      ZB_TRY(Object item, checked(PyUnicode_FromStringAndSize(names[i].data(),
                                                             static_cast<Py_ssize_t>(names[i].size()))));
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
  });
}

void schema_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto* obj = reinterpret_cast<SchemaObject*>(self);
  obj->record_template.~Object();
  obj->key_pointers.~vector();
  obj->keys.~vector();
  obj->schema.~CompiledSchema();
  type->tp_free(self);
  Py_DECREF(type);
}

constexpr const char* kSchemaDoc =
    "Schema(fields)\n--\n\n"
    "A compiled schema that caches field descriptors for repeated use.\n\n"
    "Built once from a dict of field definitions, then reused on every\n"
    "serialize/validate call with zero per-call parsing overhead.\n\n"
    "Python usage:\n```python\nfrom zembra_core import Schema, Field\n"
    "schema = Schema({\"name\": Field(str, max_length=100), \"age\": Field(int)})\n```";

PyGetSetDef kSchemaGetSet[] = {
    {"field_names_list", schema_field_names, nullptr, "Returns the list of field names in declaration order.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSchemaSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&constructor<kSchemaSignature, schema_new>)},
    {Py_tp_repr, reinterpret_cast<void*>(&schema_repr)},
    {Py_mp_length, reinterpret_cast<void*>(&schema_len)},
    {Py_tp_getset, kSchemaGetSet},
    {Py_tp_dealloc, reinterpret_cast<void*>(&schema_dealloc)},
    {Py_tp_doc, const_cast<char*>(kSchemaDoc)},
    {0, nullptr},
};

PyType_Spec kSchemaSpec = {
    "builtins.Schema",
    sizeof(SchemaObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    kSchemaSlots,
};

}  // namespace

PyTypeObject* schema_type() {
  return create_type_once(type_cell, &kSchemaSpec, &vector_constructor<kSchemaSignature, schema_new>);
}

Result<const SchemaObject*> to_schema(PyObject* obj) {
  PyTypeObject* type = schema_type();
  if (!type) return python_error();
  ZB_TRY(PyObject * checked_obj, to_instance(obj, type, "Schema"));
  return reinterpret_cast<const SchemaObject*>(checked_obj);
}

}  // namespace zembra::py
