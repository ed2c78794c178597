// Ownership of GMime objects: GMime hands out references that the caller
// releases with g_object_unref; GPtr does that when it goes.
#pragma once

#include <gmime/gmime.h>

#include <memory>
#include <string>

namespace bm::mime {

struct GObjectUnref {
    void operator()(void* object) const {
        if (object) g_object_unref(object);
    }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
using GString = std::unique_ptr<char, GFreeDeleter>;

// GMime's global tables, set up once per process.
void InitGMime();

// A format for writing: LF line ends, RFC 2231 parameters.
GMimeFormatOptions* WriteFormat();

// The object as bytes, in WriteFormat.
std::string ToBytes(GMimeObject* object);

// A data wrapper over a copy of `bytes`.
GPtr<GMimeDataWrapper> WrapBytes(std::string_view bytes);

}  // namespace bm::mime
