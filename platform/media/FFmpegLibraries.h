#pragma once
// FFmpeg's libraries are opened when a video is first read or written, not
// when the program starts: with their own dependencies they are some 130
// shared libraries, and loading them cost every command ~30 ms before it
// did anything, video or not. The functions the media layer calls are looked
// up once, by the library versions these headers describe; every call goes
// through ff(). FFmpeg's own log is turned off as they load: our errors go
// through results.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <string>

// X(library, function) for every FFmpeg function the media layer calls.
#define TARNEL_FFMPEG_FUNCTIONS(X) \
    X(avutil, av_dict_free) \
    X(avutil, av_dict_set) \
    X(avutil, av_dict_set_int) \
    X(avutil, av_frame_alloc) \
    X(avutil, av_frame_free) \
    X(avutil, av_frame_get_buffer) \
    X(avutil, av_frame_is_writable) \
    X(avutil, av_frame_make_writable) \
    X(avutil, av_frame_unref) \
    X(avutil, av_free) \
    X(avutil, av_freep) \
    X(avutil, av_log_set_callback) \
    X(avutil, av_log_set_level) \
    X(avutil, av_malloc) \
    X(avutil, av_opt_set) \
    X(avutil, av_opt_set_double) \
    X(avutil, av_opt_set_int) \
    X(avutil, av_rescale_rnd) \
    X(avutil, av_strerror) \
    X(swscale, sws_freeContext) \
    X(swscale, sws_getCachedContext) \
    X(swscale, sws_getCoefficients) \
    X(swscale, sws_getContext) \
    X(swscale, sws_scale) \
    X(swscale, sws_setColorspaceDetails) \
    X(avcodec, av_packet_alloc) \
    X(avcodec, av_packet_free) \
    X(avcodec, av_packet_rescale_ts) \
    X(avcodec, av_packet_unref) \
    X(avcodec, avcodec_alloc_context3) \
    X(avcodec, avcodec_find_decoder) \
    X(avcodec, avcodec_find_encoder) \
    X(avcodec, avcodec_find_encoder_by_name) \
    X(avcodec, avcodec_free_context) \
    X(avcodec, avcodec_open2) \
    X(avcodec, avcodec_parameters_from_context) \
    X(avcodec, avcodec_parameters_to_context) \
    X(avcodec, avcodec_receive_frame) \
    X(avcodec, avcodec_receive_packet) \
    X(avcodec, avcodec_send_frame) \
    X(avcodec, avcodec_send_packet) \
    X(avformat, av_find_input_format) \
    X(avformat, av_interleaved_write_frame) \
    X(avformat, av_read_frame) \
    X(avformat, av_write_trailer) \
    X(avformat, avformat_alloc_context) \
    X(avformat, avformat_alloc_output_context2) \
    X(avformat, avformat_close_input) \
    X(avformat, avformat_find_stream_info) \
    X(avformat, avformat_free_context) \
    X(avformat, avformat_index_get_entries_count) \
    X(avformat, avformat_new_stream) \
    X(avformat, avformat_open_input) \
    X(avformat, avformat_write_header) \
    X(avformat, avio_alloc_context) \
    X(avformat, avio_closep) \
    X(avformat, avio_context_free) \
    X(avformat, avio_flush) \
    X(avformat, avio_open)

namespace tarnel {

struct FFmpegFunctions {
#define TARNEL_FFMPEG_POINTER(library, name) decltype(&::name) name = nullptr;
    TARNEL_FFMPEG_FUNCTIONS(TARNEL_FFMPEG_POINTER)
#undef TARNEL_FFMPEG_POINTER
};

// Opens the libraries and looks the functions up, the first time; true
// when they are there. Otherwise false, with the reason in `why`.
bool LoadFFmpeg(std::string* why = nullptr);

// The functions. Only once LoadFFmpeg has returned true: a resource made
// through them proves it.
const FFmpegFunctions& ff();

// FFmpeg's text for an error code its functions returned.
std::string FFmpegError(int code);

}  // namespace tarnel
