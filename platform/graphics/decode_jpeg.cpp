// JPEG through libjpeg: baseline and progressive, greyscale, YCbCr/RGB, and
// CMYK/YCCK (inverted when an Adobe marker says so, as Adobe writes them).
//
// Safety: errors leave the library through longjmp into DecodeSteps, which
// touches only the job record; the size is checked against the picture limits
// after the header and before the decoder allocates anything large; the
// library's own memory is capped at 512 MiB, and a file with more than 500
// scans is refused (each scan costs a pass over the whole coefficient buffer).
// Data that ends before the last line (the library's "premature end" warning)
// fails the decode; other warnings about damaged data are tolerated, as the
// library itself does. A missing end-of-image marker after the last line is
// accepted.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <vector>

// jpeglib.h needs size_t and FILE before it.
#include <jerror.h>
#include <jpeglib.h>

#include "platform/graphics/picture.h"

namespace graphics {
namespace {

constexpr long kMaxLibraryMemory = 512L << 20;
constexpr int kMaxScans = 500;

struct JpegJob {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  std::vector<std::uint8_t> row;
  std::span<const std::uint8_t> file;
  Picture* out = nullptr;
  GpStatus status = Gdiplus::GenericError;
};

JpegJob* JobOf(j_common_ptr c) { return static_cast<JpegJob*>(c->client_data); }

[[noreturn]] void OnError(j_common_ptr c) {
  {
    char text[JMSG_LENGTH_MAX] = {};
    (*c->err->format_message)(c, text);
    Failed(Gdiplus::GenericError, std::string("JPEG: ") + text);
  }
  std::longjmp(JobOf(c)->jump, 1);
}

void OnMessage(j_common_ptr c, int level) {
  if (level == -1 && c->err->msg_code == JWRN_JPEG_EOF) {
    NoteTruncated();
    Failed(Gdiplus::GenericError, "JPEG: the data ends before the picture does");
    std::longjmp(JobOf(c)->jump, 1);
  }
}

void OnProgress(j_common_ptr c) {
  if (c->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxScans) {
    Failed(Gdiplus::GenericError, "JPEG: more scans than a picture may have");
    std::longjmp(JobOf(c)->jump, 1);
  }
}

unsigned Mul255(unsigned a, unsigned b) { return (a * b + 127) / 255; }

void CmykToBgrx(const std::uint8_t* cmyk, std::uint8_t* out, std::size_t n, bool inverted) {
  for (std::size_t x = 0; x < n; ++x, cmyk += 4, out += 4) {
    unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    out[0] = static_cast<std::uint8_t>(Mul255(y, k));
    out[1] = static_cast<std::uint8_t>(Mul255(m, k));
    out[2] = static_cast<std::uint8_t>(Mul255(c, k));
    out[3] = 0;
  }
}

// Everything between the header and the last line. Keeps its state in `job`
// only, so that a longjmp back here leaves nothing undefined.
bool DecodeSteps(JpegJob* job) {
  if (setjmp(job->jump)) return false;
  j_decompress_ptr cinfo = &job->cinfo;
  jpeg_mem_src(cinfo, job->file.data(), static_cast<unsigned long>(job->file.size()));
  jpeg_read_header(cinfo, TRUE);
  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
  job->status = AllocatePicture(*job->out, cinfo->image_width, cinfo->image_height, false);
  if (job->status != Gdiplus::Ok) return false;
  job->status = Gdiplus::GenericError;

  jpeg_start_decompress(cinfo);
  Picture& p = *job->out;
  if (cinfo->output_width != JDIMENSION(p.width) || cinfo->output_height != JDIMENSION(p.height) ||
      cinfo->output_components != 4) {
    Failed(Gdiplus::GenericError, "JPEG: the decoder's output differs from the header");
    return false;
  }
  const std::size_t width = std::size_t(p.width);
  if (cmyk) job->row.resize(width * 4);
  while (cinfo->output_scanline < cinfo->output_height) {
    std::uint8_t* dst = p.bgrx.get() + std::size_t(cinfo->output_scanline) * width * 4;
    JSAMPROW target = cmyk ? job->row.data() : dst;
    if (jpeg_read_scanlines(cinfo, &target, 1) != 1) {
      Failed(Gdiplus::GenericError, "JPEG: a line could not be read");
      return false;
    }
    if (cmyk) {
      CmykToBgrx(job->row.data(), dst, width, cinfo->saw_Adobe_marker);
    } else {
      for (std::size_t x = 3; x < width * 4; x += 4) dst[x] = 0;
    }
  }
  job->status = Gdiplus::Ok;
  return true;
}

}  // namespace

GpStatus DecodeJpeg(std::span<const std::uint8_t> file, Picture& out) {
  JpegJob job;
  job.file = file;
  job.out = &out;
  job.cinfo.err = jpeg_std_error(&job.err);
  job.err.error_exit = OnError;
  job.err.emit_message = OnMessage;
  job.cinfo.client_data = &job;
  // Creation itself reports errors through error_exit.
  if (setjmp(job.jump)) return Gdiplus::OutOfMemory;
  jpeg_create_decompress(&job.cinfo);
  job.cinfo.mem->max_memory_to_use = kMaxLibraryMemory;
  job.progress.progress_monitor = OnProgress;
  job.cinfo.progress = &job.progress;
  const bool ok = DecodeSteps(&job);
  jpeg_destroy_decompress(&job.cinfo);
  return ok ? Gdiplus::Ok : job.status;
}

}  // namespace graphics
