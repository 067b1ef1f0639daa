#pragma once
// Heap types whose instances hold one C++ value. A class is described by a
// binding struct:
//
//   struct ThingBinding {
//       using Model = Thing;                       // the instance's C++ value
//       static constexpr const char* type_name = "module.Thing";
//       using Constructor = Signature<"Thing(a=1, b=None)">;
//       static PyResult<Model> construct(const Args<Constructor::arity>&);
//       static inline PyMethodDef methods[] = {method<...>(), ..., {}};
//       static inline PyGetSetDef properties[] = {getter<...>("a"), ..., {}};
//   };
//
// and HeapType<ThingBinding>::create(module) makes the class. Method bodies
// take the instance with `instance<Model>(self)` and return PyResult<Ref>.
#include <Python.h>

#include <new>
#include <vector>
#include <utility>

#include "python/arguments.hpp"
#include "python/borrow.hpp"
#include "python/exceptions.hpp"
#include "python/ref.hpp"
#include "python/signature.hpp"

namespace tabseam::py {

template <class Model>
struct Instance {
    PyObject_HEAD
    BorrowFlag borrow;
    Model model;
};

template <class Model>
Instance<Model>& instance(PyObject* self) {
    return *reinterpret_cast<Instance<Model>*>(self);
}

// A method whose parameters are those of its text signature. `Body` is
//   PyResult<Ref> body(PyObject* self, const Args<arity>& args)
// (self is the class for static methods).
template <FixedString Text, auto Body>
PyObject* method_trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    using Sig = Signature<Text>;
    return boundary([&]() -> PyResult<Ref> {
        NV_ASSIGN_OR_RETURN(auto parsed, parse_arguments<Sig>(args, nargs, kwnames));
        return Body(self, parsed);
    });
}

template <FixedString Text, auto Body>
constexpr PyMethodDef method(int extra_flags = 0) {
    using Sig = Signature<Text>;
    return {Sig::name_chars.data(),
            reinterpret_cast<PyCFunction>(
                reinterpret_cast<void (*)()>(&method_trampoline<Text, Body>)),
            METH_FASTCALL | METH_KEYWORDS | extra_flags, Sig::doc};
}

// A read-only property; `Body` is PyResult<Ref> body(PyObject* self).
template <auto Body>
PyObject* getter_trampoline(PyObject* self, void*) {
    return boundary([&] { return Body(self); });
}

template <auto Body>
constexpr PyGetSetDef getter(const char* name) {
    return {name, &getter_trampoline<Body>, nullptr, nullptr, nullptr};
}

// A read-write property: `Getter` as for getter<>, `Setter` is
//   PyStatus setter(PyObject* self, PyObject* value)
// Deleting the attribute is refused.
template <auto Setter>
int setter_trampoline(PyObject* self, PyObject* value, void*) {
    if (!value) {
        PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
        return -1;
    }
    Ref done = Ref::steal(boundary([&]() -> PyResult<Ref> {
        NV_RETURN_IF_ERROR(Setter(self, value));
        return none();
    }));
    return done ? 0 : -1;
}

template <auto Getter, auto Setter>
constexpr PyGetSetDef property(const char* name) {
    return {name, &getter_trampoline<Getter>, &setter_trampoline<Setter>, nullptr, nullptr};
}

template <class Binding>
struct HeapType {
    using Model = typename Binding::Model;
    using Object = Instance<Model>;
    using Constructor = typename Binding::Constructor;

    // Parses and validates the options, then builds the instance around them.
    static PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return boundary([&]() -> PyResult<Ref> {
            NV_ASSIGN_OR_RETURN(auto parsed, parse_tuple_arguments(args, kwargs));
            NV_ASSIGN_OR_RETURN(Model model, Binding::construct(parsed));
            return wrap(type, std::move(model));
        });
    }

    // A new instance of `type` holding `model` (returns a new reference).
    static PyResult<Ref> wrap(PyTypeObject* type, Model&& model) {
        NV_ASSIGN_OR_RETURN(Ref object, checked(type->tp_alloc(type, 0)));
        auto* raw = reinterpret_cast<Object*>(object.get());
        new (&raw->borrow) BorrowFlag();
        new (&raw->model) Model(std::move(model));
        return object;
    }

    static void tp_dealloc(PyObject* self) {
        PyTypeObject* type = Py_TYPE(self);
        auto* raw = reinterpret_cast<Object*>(self);
        raw->model.~Model();
        raw->borrow.~BorrowFlag();
        type->tp_free(self);
        Py_DECREF(type);  // heap-type instances own a reference to their type
    }

    static inline PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(&tp_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&tp_dealloc)},
        {Py_tp_doc, const_cast<char*>(Constructor::doc)},
        {Py_tp_methods, Binding::methods},
        {Py_tp_getset, Binding::properties},
        {0, nullptr},
    };

    static inline PyType_Spec spec = {
        Binding::type_name, static_cast<int>(sizeof(Object)), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};

    // Creates the class and adds it to `module` under its short name.
    static PyStatus add_to(PyObject* module) {
        NV_ASSIGN_OR_RETURN(Ref type, checked(PyType_FromModuleAndSpec(module, &spec, nullptr)));
        return checked_status(PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type.get())));
    }

private:
    // tp_new receives a tuple and a dict; match them like vectorcall arguments.
    static PyResult<Args<Constructor::arity>> parse_tuple_arguments(PyObject* args,
                                                                    PyObject* kwargs) {
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        const Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
        std::vector<PyObject*> flat(static_cast<std::size_t>(nargs + nkw));
        for (Py_ssize_t i = 0; i < nargs; ++i) flat[i] = PyTuple_GET_ITEM(args, i);
        Ref kwnames;
        if (nkw > 0) {
            NV_ASSIGN_OR_RETURN(kwnames, checked(PyTuple_New(nkw)));
            Py_ssize_t pos = 0, k = 0;
            PyObject *key, *value;
            while (PyDict_Next(kwargs, &pos, &key, &value)) {
                PyTuple_SET_ITEM(kwnames.get(), k, Py_NewRef(key));
                flat[nargs + k] = value;
                ++k;
            }
        }
        return parse_arguments<Constructor>(flat.data(), nargs, kwnames.get());
    }
};

}  // namespace tabseam::py
