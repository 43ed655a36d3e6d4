#include "JpegDecode.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace {

// libjpeg's default error_exit calls exit(); ours jumps back to the decoder and keeps the message.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* self = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, self->message);
    std::longjmp(self->escape, 1);
}

// Warnings are counted by libjpeg (num_warnings); nothing is printed.
void OutputMessage(j_common_ptr) {}

// Plain C-style frame between setjmp and any longjmp: no object with a destructor lives here, so the jump
// skips nothing that needs cleaning up. The pixels come from the caller's callback once the size is known.
struct DecodeTarget {
    unsigned char* (*allocate)(void* context, int width, int height, int* stride) = nullptr;
    void* context = nullptr;
};

bool RunDecoder(const unsigned char* data, unsigned long size, DecodeTarget* target, ErrorManager* err,
                long* warnings) {
    jpeg_decompress_struct cinfo;
    cinfo.err = jpeg_std_error(&err->base);
    err->base.error_exit = ErrorExit;
    err->base.output_message = OutputMessage;
    err->message[0] = '\0';
    if (setjmp(err->escape)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    int stride = 0;
    unsigned char* pixels = target->allocate(target->context, static_cast<int>(cinfo.output_width),
                                             static_cast<int>(cinfo.output_height), &stride);
    if (!pixels) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row =
            pixels + static_cast<std::size_t>(cinfo.output_scanline) * static_cast<std::size_t>(stride);
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    *warnings = err->base.num_warnings;
    jpeg_destroy_decompress(&cinfo);
    return true;
}

unsigned char* AllocateImage(void* context, int width, int height, int* stride) {
    auto* image = static_cast<QImage*>(context);
    *image = QImage(width, height, QImage::Format_RGB888);
    if (image->isNull())
        return nullptr;
    *stride = static_cast<int>(image->bytesPerLine());
    return image->bits();
}

} // namespace

QImage DecodeJpeg(const QByteArray& data, QString* error) {
    QImage image;
    ErrorManager err{};
    DecodeTarget target;
    target.allocate = AllocateImage;
    target.context = &image;
    long warnings = 0;
    QString reason;
    if (data.isEmpty()) {
        reason = QStringLiteral("Empty picture");
    } else if (!RunDecoder(reinterpret_cast<const unsigned char*>(data.constData()),
                           static_cast<unsigned long>(data.size()), &target, &err, &warnings)) {
        reason = err.message[0] ? QString::fromLatin1(err.message) : QStringLiteral("Picture too large");
    } else if (warnings > 0) {
        reason = QStringLiteral("Corrupt picture data");
    }
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return {};
    }
    return image;
}
