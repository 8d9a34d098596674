#include "JpegImage.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace qvx {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the decoder with the message.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info)
{
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

void OnMessage(j_common_ptr, int) {} // warnings: damaged data decodes as far as it goes

// Everything between setjmp and the last libjpeg call lives here, with only
// trivially destructible locals, so that the jump skips no destructor.
bool Decode(jpeg_decompress_struct& info, ErrorManager& errors, const QByteArray& data, QImage& image)
{
    if (setjmp(errors.jump))
        return false;
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB888);
    if (image.isNull()) {
        std::snprintf(errors.message, sizeof errors.message, "picture of %ux%u pixels is too large",
                      info.output_width, info.output_height);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data, QString* error)
{
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("no picture data");
        return {};
    }
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnError;
    errors.pub.emit_message = OnMessage;
    jpeg_create_decompress(&info);

    QImage image;
    const bool ok = Decode(info, errors, data, image);
    jpeg_destroy_decompress(&info);
    if (!ok) {
        if (error)
            *error = QString::fromLocal8Bit(errors.message);
        return {};
    }
    return image;
}

} // namespace qvx
