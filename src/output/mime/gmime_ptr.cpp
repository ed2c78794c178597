#include "output/mime/gmime_ptr.h"

#include <mutex>

namespace bm::mime {

void InitGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

GMimeFormatOptions* WriteFormat() {
    // Built once and never changed: GMime only reads it while writing.
    static GMimeFormatOptions* const format = [] {
        InitGMime();
        GMimeFormatOptions* f = g_mime_format_options_new();
        g_mime_format_options_set_newline_format(f, GMIME_NEWLINE_FORMAT_UNIX);
        g_mime_format_options_set_param_encoding_method(f, GMIME_PARAM_ENCODING_METHOD_RFC2231);
        return f;
    }();
    return format;
}

std::string ToBytes(GMimeObject* object) {
    GPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(object, WriteFormat(), stream.get());
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    return std::string(reinterpret_cast<const char*>(array->data), array->len);
}

GPtr<GMimeDataWrapper> WrapBytes(std::string_view bytes) {
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    return GPtr<GMimeDataWrapper>(g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
}

}  // namespace bm::mime
