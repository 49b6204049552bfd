#include "support/jpeg_decode.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace korvinet::testing {

namespace {

struct DecodeError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void OnDecodeError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<DecodeError*>(info->err)->jump, 1);
}

bool DecodeInto(const QByteArray& bytes, DecodedJpeg* out) {
    jpeg_decompress_struct info;
    DecodeError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnDecodeError;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    out->progressive = jpeg_has_multiple_scans(&info);
    out->components = info.num_components;
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out->width = static_cast<int>(info.output_width);
    out->height = static_cast<int>(info.output_height);
    out->rgb.resize(static_cast<std::size_t>(out->width) * out->height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &out->rgb[static_cast<std::size_t>(info.output_scanline) * out->width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

DecodedJpeg DecodeJpeg(const QByteArray& bytes) {
    DecodedJpeg d;
    if (!bytes.isEmpty())
        d.ok = DecodeInto(bytes, &d);
    return d;
}

} // namespace korvinet::testing
