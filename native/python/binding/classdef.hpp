// Python classes over C++ payloads. Each class wraps one C++ type `T`
// (a core record, or a shared reference to a core state); the payload lives
// inline in the object. `ClassDef<T>` builds the heap type from declarative
// signatures; `box` and `unbox` cross the boundary by copy.
#pragma once

#include <cstddef>
#include <deque>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/binding/convert.hpp"
#include "python/binding/errors.hpp"
#include "python/binding/signature.hpp"

namespace tarnwick::py {

// ---- the use rule ----------------------------------------------------------

// Readers share an object; a mutating call needs it alone. Only touched with
// the interpreter lock held.
struct UseState {
  int count = 0;  // > 0 readers, -1 one mutating call
};

enum class Use { Reading, Mutating };

class UseGuard {
 public:
  UseGuard(UseState& state, Use use);
  ~UseGuard();
  UseGuard(const UseGuard&) = delete;
  UseGuard& operator=(const UseGuard&) = delete;

 private:
  UseState& state_;
  Use use_;
};

// ---- instances -------------------------------------------------------------

template <class T>
struct Boxed {
  PyObject_HEAD
  UseState use;
  T value;
};

// Process-wide type of the class wrapping `T`, set when the module builds it.
template <class T>
struct PyClass {
  static inline PyTypeObject* type = nullptr;
  static inline const char* name = "?";
};

template <class T>
Boxed<T>* boxed(PyObject* obj) {
  return reinterpret_cast<Boxed<T>*>(obj);
}

template <class T>
T& payload(PyObject* obj) {
  return boxed<T>(obj)->value;
}

template <class T>
bool is_instance(PyObject* obj) {
  return PyClass<T>::type != nullptr && PyObject_TypeCheck(obj, PyClass<T>::type);
}

// A new instance of the class wrapping `T`, holding `value`.
template <class T>
Ref box(T value) {
  PyTypeObject* type = PyClass<T>::type;
  if (type == nullptr) throw InvariantFailure("class not registered");
  Ref obj = checked(PyType_GenericAlloc(type, 0));
  auto* b = boxed<T>(obj.get());
  new (&b->use) UseState{};
  new (&b->value) T(std::move(value));
  return obj;
}

// The payload of an argument that must be an instance of the class of `T`.
template <class T>
const T& unbox(Arg a) {
  if (!is_instance<T>(a.obj)) {
    raise_argument_type_error(a.name,
                              std::string("expected ") + PyClass<T>::name + ", got " + type_name(a.obj));
  }
  return payload<T>(a.obj);
}

// Every element of a sequence argument (not str) as a copied payload.
template <class T>
std::vector<T> unbox_sequence(Arg a) {
  std::vector<T> out;
  for (const Ref& item : to_sequence(a)) out.push_back(unbox<T>({item.get(), a.name}));
  return out;
}

template <class T>
struct is_specialization_of_container : std::false_type {};
template <class T>
struct is_specialization_of_container<std::optional<T>> : std::true_type {};
template <class T, class A>
struct is_specialization_of_container<std::vector<T, A>> : std::true_type {};
template <class T, class A>
struct is_specialization_of_container<std::deque<T, A>> : std::true_type {};

// Results: any payload type of a class boxes by copy.
template <class T>
concept Boxable = (std::is_class_v<T> || std::is_enum_v<T>) && !std::is_same_v<T, Ref> &&
                  !std::is_same_v<T, std::string> && !std::is_same_v<T, std::string_view> &&
                  !is_specialization_of_container<T>::value;

template <class T>
  requires Boxable<std::remove_cvref_t<T>>
Ref to_py(T&& value) {
  return box<std::remove_cvref_t<T>>(std::forward<T>(value));
}

template <class T>
Ref to_py(const std::optional<T>& v) {
  if (!v) return Ref::none();
  return to_py(*v);
}

// A list of copies of a vector's or deque's items, in order.
template <class Container>
Ref to_py_list(const Container& items) {
  Ref list = checked(PyList_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t i = 0;
  for (const auto& item : items) PyList_SetItem(list.get(), i++, to_py(item).release());
  return list;
}

template <class T>
Ref to_py(const std::vector<T>& items) {
  return to_py_list(items);
}

template <class T>
Ref to_py(const std::deque<T>& items) {
  return to_py_list(items);
}


// ---- argument holders --------------------------------------------------------

template <std::size_t N>
struct Args {
  const Param* params;
  PyObject* items[N == 0 ? 1 : N];

  Arg operator[](std::size_t i) const { return {items[i], params[i].name}; }
};

// Read use for reading calls, mutating use for mutating ones.
template <class T>
UseState& use_of(PyObject* self) {
  return boxed<T>(self)->use;
}

namespace detail {

template <class R>
Ref result_to_py(R&& r) {
  if constexpr (std::is_same_v<std::remove_cvref_t<R>, Ref>) {
    return std::move(r);
  } else {
    return to_py(std::forward<R>(r));
  }
}

// Calls a method body: it may take (T&, const Args&) or (PyObject* self,
// T&, const Args&), and may return void or anything `to_py` knows.
template <auto Fn, class T, std::size_t N>
Ref call_method(PyObject* self, const Args<N>& args) {
  T& value = payload<T>(self);
  if constexpr (std::is_invocable_v<decltype(Fn), PyObject*, T&, const Args<N>&>) {
    using R = std::invoke_result_t<decltype(Fn), PyObject*, T&, const Args<N>&>;
    if constexpr (std::is_void_v<R>) {
      Fn(self, value, args);
      return Ref::none();
    } else {
      return result_to_py(Fn(self, value, args));
    }
  } else {
    using R = std::invoke_result_t<decltype(Fn), T&, const Args<N>&>;
    if constexpr (std::is_void_v<R>) {
      Fn(value, args);
      return Ref::none();
    } else {
      return result_to_py(Fn(value, args));
    }
  }
}

template <class T, const auto& S, auto Fn, Use U>
PyObject* method_fastcall(PyObject* self, PyObject* const* argv, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return translate([&] {
    constexpr std::size_t N = std::remove_cvref_t<decltype(S)>::size;
    Args<N> args{S.params.data(), {}};
    match_fastcall({PyClass<T>::name, S.name, CallableKind::Method}, S.params.data(), N, argv,
                   nargs, kwnames, args.items);
    UseGuard use(use_of<T>(self), U);
    return call_method<Fn, T, N>(self, args);
  });
}

template <class T, const auto& S, auto Fn, Use U>
PyObject* method_noargs(PyObject* self, PyObject*) {
  return translate([&] {
    UseGuard use(use_of<T>(self), U);
    return call_method<Fn, T, 0>(self, Args<0>{S.params.data(), {}});
  });
}

template <class T, const auto& S, auto Fn>
PyObject* static_fastcall(PyObject*, PyObject* const* argv, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return translate([&] {
    constexpr std::size_t N = std::remove_cvref_t<decltype(S)>::size;
    Args<N> args{S.params.data(), {}};
    match_fastcall({PyClass<T>::name, S.name, CallableKind::StaticMethod}, S.params.data(), N,
                   argv, nargs, kwnames, args.items);
    return result_to_py(Fn(args));
  });
}

template <class T, const auto& S, auto Fn>
PyObject* constructor(PyTypeObject*, PyObject* argt, PyObject* kwargs) {
  return translate([&] {
    constexpr std::size_t N = std::remove_cvref_t<decltype(S)>::size;
    Args<N> args{S.params.data(), {}};
    match_tuple({PyClass<T>::name, S.name, CallableKind::Constructor}, S.params.data(), N, argt,
                kwargs, args.items);
    return box<T>(Fn(args));
  });
}

template <class T, auto Fn>
PyObject* getter(PyObject* self, void*) {
  return translate([&] {
    UseGuard use(use_of<T>(self), Use::Reading);
    return result_to_py(Fn(payload<T>(self)));
  });
}

template <class T, auto Fn>
PyObject* repr(PyObject* self) {
  return translate([&] {
    UseGuard use(use_of<T>(self), Use::Reading);
    return to_py(Fn(payload<T>(self)));
  });
}

template <class T, auto Fn>
Py_hash_t hash(PyObject* self) {
  Py_hash_t result = -1;
  PyObject* r = translate([&] {
    UseGuard use(use_of<T>(self), Use::Reading);
    result = static_cast<Py_hash_t>(Fn(payload<T>(self)));
    if (result == -1) result = -2;  // the interpreter reserves -1
    return Ref::none();
  });
  if (r == nullptr) return -1;
  Py_DECREF(r);
  return result;
}

template <class T>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto* b = boxed<T>(self);
  b->value.~T();
  b->use.~UseState();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

template <class F>
void* slot_fn(F* fn) {
  return reinterpret_cast<void*>(fn);
}

// Docstrings and method tables must outlive the type; types live as long as
// the process, so their definitions are kept for good.
struct ClassStorage {
  std::deque<std::string> texts;
  std::vector<PyMethodDef> methods;
  std::vector<PyGetSetDef> getsets;
  std::vector<PyType_Slot> slots;
  std::string qualified_name;
  const char* keep(std::string s) { return texts.emplace_back(std::move(s)).c_str(); }
};

PyObject* build_type(PyObject* module, ClassStorage& storage, const char* name, bool immutable,
                     bool instantiable, std::size_t basicsize);

}  // namespace detail

template <class T>
class ClassDef {
 public:
  explicit ClassDef(const char* name) : name_(name), storage_(new detail::ClassStorage) {
    PyClass<T>::name = name;
  }

  // `Fn(const Args<N>&) -> T`.
  template <const auto& S, auto Fn>
  ClassDef& constructor() {
    doc_ = text_signature(S, CallableKind::Constructor);
    add_slot(Py_tp_new, detail::slot_fn(&detail::constructor<T, S, Fn>));
    instantiable_ = true;
    return *this;
  }

  // `Fn(T&, const Args<N>&)` or `Fn(PyObject* self, T&, const Args<N>&)`.
  template <const auto& S, auto Fn, Use U = Use::Reading>
  ClassDef& method() {
    constexpr std::size_t N = std::remove_cvref_t<decltype(S)>::size;
    const char* doc = storage_->keep(text_signature(S, CallableKind::Method));
    if constexpr (N == 0) {
      storage_->methods.push_back(
          {S.name, reinterpret_cast<PyCFunction>(&detail::method_noargs<T, S, Fn, U>), METH_NOARGS,
           doc});
    } else {
      storage_->methods.push_back(
          {S.name,
           reinterpret_cast<PyCFunction>(
               reinterpret_cast<void (*)()>(&detail::method_fastcall<T, S, Fn, U>)),
           METH_FASTCALL | METH_KEYWORDS, doc});
    }
    return *this;
  }

  template <const auto& S, auto Fn>
  ClassDef& mutating_method() {
    return method<S, Fn, Use::Mutating>();
  }

  // `Fn(const Args<N>&)`.
  template <const auto& S, auto Fn>
  ClassDef& static_method() {
    const char* doc = storage_->keep(text_signature(S, CallableKind::StaticMethod));
    storage_->methods.push_back(
        {S.name,
         reinterpret_cast<PyCFunction>(
             reinterpret_cast<void (*)()>(&detail::static_fastcall<T, S, Fn>)),
         METH_FASTCALL | METH_KEYWORDS | METH_STATIC, doc});
    return *this;
  }

  // `Fn(const T&)`, returning anything `to_py` knows.
  template <auto Fn>
  ClassDef& getter(const char* name) {
    storage_->getsets.push_back({name, &detail::getter<T, Fn>, nullptr, nullptr, nullptr});
    return *this;
  }

  // `Fn(const T&) -> std::string`.
  template <auto Fn>
  ClassDef& repr() {
    return add_slot(Py_tp_repr, detail::slot_fn(&detail::repr<T, Fn>));
  }

  // `Fn(const T&) -> integer`.
  template <auto Fn>
  ClassDef& hash() {
    return add_slot(Py_tp_hash, detail::slot_fn(&detail::hash<T, Fn>));
  }

  ClassDef& unhashable() { return add_slot(Py_tp_hash, detail::slot_fn(&PyObject_HashNotImplemented)); }

  // Raw `richcmpfunc`.
  ClassDef& richcompare(richcmpfunc fn) { return add_slot(Py_tp_richcompare, detail::slot_fn(fn)); }

  ClassDef& slot(int id, void* fn) { return add_slot(id, fn); }

  // Class attributes may be added after creation (the enumerations do).
  ClassDef& mutable_type() {
    immutable_ = false;
    return *this;
  }

  // Creates the type (a new reference) and records it as the class of `T`.
  PyObject* build(PyObject* module) {
    add_slot(Py_tp_dealloc, detail::slot_fn(&detail::dealloc<T>));
    add_slot(Py_tp_doc, const_cast<char*>(storage_->keep(doc_)));
    PyObject* type = detail::build_type(module, *storage_, name_, immutable_, instantiable_,
                                        sizeof(Boxed<T>));
    if (type != nullptr) PyClass<T>::type = reinterpret_cast<PyTypeObject*>(type);
    return type;
  }

 private:
  ClassDef& add_slot(int id, void* fn) {
    storage_->slots.push_back({id, fn});
    return *this;
  }

  const char* name_;
  detail::ClassStorage* storage_;  // kept for the life of the process
  std::string doc_;                // empty: no constructor
  bool immutable_ = true;
  bool instantiable_ = false;
};

// A module function from its signature; `Fn(const Args<N>&)`.
namespace detail {

template <const auto& S, auto Fn>
PyObject* function_fastcall(PyObject*, PyObject* const* argv, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return translate([&] {
    constexpr std::size_t N = std::remove_cvref_t<decltype(S)>::size;
    Args<N> args{S.params.data(), {}};
    match_fastcall({nullptr, S.name, CallableKind::Function}, S.params.data(), N, argv, nargs,
                   kwnames, args.items);
    return result_to_py(Fn(args));
  });
}

template <const auto& S, auto Fn>
PyObject* function_noargs(PyObject*, PyObject*) {
  return translate([&] { return result_to_py(Fn(Args<0>{S.params.data(), {}})); });
}

PyObject* build_function(PyObject* module, PyMethodDef* def);

}  // namespace detail

template <const auto& S, auto Fn>
PyObject* define_function(PyObject* module) {
  constexpr std::size_t N = std::remove_cvref_t<decltype(S)>::size;
  static const std::string doc = text_signature(S, CallableKind::Function);
  static PyMethodDef def = [] {
    if constexpr (N == 0) {
      return PyMethodDef{S.name, &detail::function_noargs<S, Fn>, METH_NOARGS, doc.c_str()};
    } else {
      return PyMethodDef{S.name,
                         reinterpret_cast<PyCFunction>(
                             reinterpret_cast<void (*)()>(&detail::function_fastcall<S, Fn>)),
                         METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
    }
  }();
  return detail::build_function(module, &def);
}

}  // namespace tarnwick::py
