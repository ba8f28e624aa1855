#include "binding/django/model_schema_type.h"

#include <new>

#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/core/module_builder.h"
#include "binding/core/python_text.h"
#include "binding/core/to_python.h"
#include "binding/django/descriptor_dicts.h"
#include "binding/django/extract_descriptors.h"
#include "binding/django/ordinary_errors.h"

namespace zembra::py {
namespace {

PyTypeObject* type_cell = nullptr;

constexpr const char* kModelSchemaPositional[] = {"model_class"};
constexpr CallSignature kModelSchemaSignature{"__new__", "ModelSchema", kModelSchemaPositional, 1, {}};

ModelSchemaObject* self_of(PyObject* self) { return reinterpret_cast<ModelSchemaObject*>(self); }

// model_class.__name__, or "UnknownModel" when it is not a usable str.
Result<std::string> model_name_of(PyObject* model_class) {
  Object name = Object::steal(PyObject_GetAttrString(model_class, "__name__"));
  if (name) {
    Result<std::string_view> text = to_text(name.get());
    if (text) return std::string(*text);
  }
  ZB_CHECK_OK(absorb_ordinary_error());
  return std::string("UnknownModel");
}

Result<Object> model_schema_new(PyTypeObject* type, Slots slots) {
  ZB_TRY(std::string name, model_name_of(slots[0]));
  ZB_TRY(std::vector<django::FieldDescriptor> descriptors, extract_descriptors(slots[0]));
  django::CompiledModel model = django::compile_model(std::move(descriptors));
  ZB_TRY(std::vector<Object> keys, name_objects(model, true));
  std::vector<PyObject*> key_pointers;
  for (const Object& key : keys) key_pointers.push_back(key.get());
  ZB_TRY(Object shape, record_template(key_pointers, model.sorted_order));

  ZB_TRY(Object self, checked(type->tp_alloc(type, 0)));
  ModelSchemaObject* obj = self_of(self.get());
  new (&obj->model) django::CompiledModel(std::move(model));
  new (&obj->model_name) std::string(std::move(name));
  new (&obj->keys) std::vector<Object>(std::move(keys));
  new (&obj->key_pointers) std::vector<PyObject*>(std::move(key_pointers));
  new (&obj->record_template) Object(std::move(shape));
  return self;
}

PyObject* model_schema_repr(PyObject* self) {
  return run_guarded([&]() -> Result<Object> {
    const ModelSchemaObject* obj = self_of(self);
    std::string text = "ModelSchema(" + obj->model_name + ", " + std::to_string(obj->model.size()) + " fields)";
    return utf8_text(text);
  });
}

PyObject* model_schema_field_names(PyObject* self, void*) {
  return run_guarded([&]() -> Result<Object> {
    const auto& descriptors = self_of(self)->model.descriptors;
    ZB_TRY(Object list, checked(PyList_New(static_cast<Py_ssize_t>(descriptors.size()))));
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
      ZB_TRY(Object item, utf8_text(descriptors[i].name));
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
  });
}

PyObject* model_schema_model_name(PyObject* self, void*) {
  return run_guarded([&]() -> Result<Object> { return utf8_text(self_of(self)->model_name); });
}

PyObject* model_schema_to_descriptor_list(PyObject* self, PyObject*) {
  return run_guarded([&]() -> Result<Object> { return write_descriptor_dicts(self_of(self)->model.descriptors); });
}

void model_schema_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  ModelSchemaObject* obj = self_of(self);
  obj->record_template.~Object();
  obj->key_pointers.~vector();
  obj->keys.~vector();
  obj->model_name.~basic_string();
  obj->model.~CompiledModel();
  type->tp_free(self);
  Py_DECREF(type);
}

constexpr const char* kModelSchemaDoc =
    "ModelSchema(model_class)\n--\n\n"
    "A compiled model schema that caches field descriptors for repeated use.\n\n"
    "Built once at Django startup from a model class, then reused on every\n"
    "request. Eliminates per-request descriptor parsing overhead entirely.\n\n"
    "Usage from Python:\n```python\n"
    "schema = zembra_django.ModelSchema(MyModel)\n"
    "result = zembra_django.serialize_instance(instance, schema)\n```";

PyGetSetDef kModelSchemaGetSet[] = {
    {"field_names_list", model_schema_field_names, nullptr, "Returns the list of field names in this schema.",
     nullptr},
    {"model_name_str", model_schema_model_name, nullptr, "Returns the model class name.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kModelSchemaMethods[] = {
    {"to_descriptor_list", model_schema_to_descriptor_list, METH_NOARGS,
     "to_descriptor_list($self)\n--\n\n"
     "Returns the schema as a list of dicts (for compatibility with existing APIs)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kModelSchemaSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&constructor<kModelSchemaSignature, model_schema_new>)},
    {Py_tp_repr, reinterpret_cast<void*>(&model_schema_repr)},
    {Py_tp_getset, kModelSchemaGetSet},
    {Py_tp_methods, kModelSchemaMethods},
    {Py_tp_dealloc, reinterpret_cast<void*>(&model_schema_dealloc)},
    {Py_tp_doc, const_cast<char*>(kModelSchemaDoc)},
    {0, nullptr},
};

PyType_Spec kModelSchemaSpec = {
    "builtins.ModelSchema",
    sizeof(ModelSchemaObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    kModelSchemaSlots,
};

}  // namespace

PyTypeObject* model_schema_type() { return create_type_once(type_cell, &kModelSchemaSpec); }

Result<const ModelSchemaObject*> to_model_schema(PyObject* obj) {
  PyTypeObject* type = model_schema_type();
  if (!type) return python_error();
  ZB_TRY(PyObject * checked_obj, to_instance(obj, type, "ModelSchema"));
  return reinterpret_cast<const ModelSchemaObject*>(checked_obj);
}

Result<std::vector<Object>> name_objects(const django::CompiledModel& model, bool intern) {
  std::vector<Object> keys;
  keys.reserve(model.size());
  for (const django::FieldDescriptor& d : model.descriptors) {
    ZB_TRY(Object key, utf8_text(d.name));
    if (intern) {
      PyObject* raw = key.release();
      PyUnicode_InternInPlace(&raw);
      key = Object::steal(raw);
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

}  // namespace zembra::py
