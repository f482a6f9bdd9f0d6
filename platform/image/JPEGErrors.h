// libjpeg's default error handler exits the process: inside the codec its errors jump back to the
// caller's setjmp on `jump`, their text kept in `message`, and its warnings are dropped.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace plat::image::detail {

struct JPEGError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

inline void jpegErrorExit(j_common_ptr info) {
    auto* err = reinterpret_cast<JPEGError*>(info->err);
    info->err->format_message(info, err->message);
    std::longjmp(err->jump, 1);
}

inline void jpegQuiet(j_common_ptr) {}

// For the compress or decompress struct's `err`.
inline jpeg_error_mgr* jpegErrors(JPEGError& err) {
    jpeg_error_mgr* base = jpeg_std_error(&err.base);
    err.base.error_exit = jpegErrorExit;
    err.base.output_message = jpegQuiet;
    err.message[0] = 0;
    return base;
}

}  // namespace plat::image::detail
