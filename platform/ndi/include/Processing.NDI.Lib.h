#pragma once
// The NDI runtime's C interface, as far as this project calls it. Names, types and values follow
// the runtime's public documentation, so the same application code builds against the vendor SDK.
// Our simulated runtime (this folder) implements every function declared here.

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#define PROCESSINGNDILIB_API __declspec(dllimport)
#else
#define PROCESSINGNDILIB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define NDI_LIB_FOURCC(ch0, ch1, ch2, ch3) \
    ((uint32_t)(uint8_t)(ch0) | ((uint32_t)(uint8_t)(ch1) << 8) | ((uint32_t)(uint8_t)(ch2) << 16) | ((uint32_t)(uint8_t)(ch3) << 24))

typedef enum NDIlib_frame_type_e {
    NDIlib_frame_type_none = 0,
    NDIlib_frame_type_video = 1,
    NDIlib_frame_type_audio = 2,
    NDIlib_frame_type_metadata = 3,
    NDIlib_frame_type_error = 4,
    NDIlib_frame_type_status_change = 100,
    NDIlib_frame_type_max = 0x7fffffff
} NDIlib_frame_type_e;

typedef enum NDIlib_FourCC_video_type_e {
    NDIlib_FourCC_video_type_UYVY = NDI_LIB_FOURCC('U', 'Y', 'V', 'Y'),
    NDIlib_FourCC_video_type_UYVA = NDI_LIB_FOURCC('U', 'Y', 'V', 'A'),
    NDIlib_FourCC_video_type_BGRA = NDI_LIB_FOURCC('B', 'G', 'R', 'A'),
    NDIlib_FourCC_video_type_BGRX = NDI_LIB_FOURCC('B', 'G', 'R', 'X'),
    NDIlib_FourCC_video_type_RGBA = NDI_LIB_FOURCC('R', 'G', 'B', 'A'),
    NDIlib_FourCC_video_type_RGBX = NDI_LIB_FOURCC('R', 'G', 'B', 'X'),
    NDIlib_FourCC_video_type_max = 0x7fffffff
} NDIlib_FourCC_video_type_e;

typedef enum NDIlib_FourCC_audio_type_e {
    NDIlib_FourCC_audio_type_FLTP = NDI_LIB_FOURCC('F', 'L', 'T', 'p'),
    NDIlib_FourCC_audio_type_max = 0x7fffffff
} NDIlib_FourCC_audio_type_e;

typedef enum NDIlib_frame_format_type_e {
    NDIlib_frame_format_type_interleaved = 0,
    NDIlib_frame_format_type_progressive = 1,
    NDIlib_frame_format_type_field_0 = 2,
    NDIlib_frame_format_type_field_1 = 3,
    NDIlib_frame_format_type_max = 0x7fffffff
} NDIlib_frame_format_type_e;

typedef enum NDIlib_recv_bandwidth_e {
    NDIlib_recv_bandwidth_metadata_only = -10,
    NDIlib_recv_bandwidth_audio_only = 10,
    NDIlib_recv_bandwidth_lowest = 0,
    NDIlib_recv_bandwidth_highest = 100,
    NDIlib_recv_bandwidth_max = 0x7fffffff
} NDIlib_recv_bandwidth_e;

typedef enum NDIlib_recv_color_format_e {
    NDIlib_recv_color_format_BGRX_BGRA = 0,
    NDIlib_recv_color_format_UYVY_BGRA = 1,
    NDIlib_recv_color_format_RGBX_RGBA = 2,
    NDIlib_recv_color_format_UYVY_RGBA = 3,
    NDIlib_recv_color_format_fastest = 100,
    NDIlib_recv_color_format_best = 101,
    NDIlib_recv_color_format_max = 0x7fffffff
} NDIlib_recv_color_format_e;

// Ask the runtime to make up a time code from the local clock.
static const int64_t NDIlib_send_timecode_synthesize = INT64_MAX;
static const int64_t NDIlib_recv_timestamp_undefined = INT64_MAX;

typedef struct NDIlib_source_t {
    const char* p_ndi_name;
    union {
        const char* p_url_address;
        const char* p_ip_address;
    };
} NDIlib_source_t;

typedef struct NDIlib_video_frame_v2_t {
    int xres, yres;
    NDIlib_FourCC_video_type_e FourCC;
    int frame_rate_N, frame_rate_D;
    float picture_aspect_ratio; // 0 means square pixels: xres / yres
    NDIlib_frame_format_type_e frame_format_type;
    int64_t timecode; // 100 ns units
    uint8_t* p_data;
    union {
        int line_stride_in_bytes;
        int data_size_in_bytes;
    };
    const char* p_metadata;
    int64_t timestamp;
} NDIlib_video_frame_v2_t;

typedef struct NDIlib_audio_frame_v2_t {
    int sample_rate;
    int no_channels;
    int no_samples;
    int64_t timecode;
    float* p_data; // planar: channel 0's samples, then channel 1's, each channel_stride_in_bytes long
    int channel_stride_in_bytes;
    const char* p_metadata;
    int64_t timestamp;
} NDIlib_audio_frame_v2_t;

typedef struct NDIlib_audio_frame_interleaved_32f_t {
    int sample_rate;
    int no_channels;
    int no_samples;
    int64_t timecode;
    float* p_data;
} NDIlib_audio_frame_interleaved_32f_t;

typedef struct NDIlib_metadata_frame_t {
    int length; // bytes including the terminating zero; 0 means "count it"
    int64_t timecode;
    char* p_data;
} NDIlib_metadata_frame_t;

typedef struct NDIlib_find_instance_type* NDIlib_find_instance_t;
typedef struct NDIlib_recv_instance_type* NDIlib_recv_instance_t;
typedef struct NDIlib_framesync_instance_type* NDIlib_framesync_instance_t;

typedef struct NDIlib_find_create_t {
    bool show_local_sources;
    const char* p_groups;
    const char* p_extra_ips;
} NDIlib_find_create_t;

typedef struct NDIlib_recv_create_v3_t {
    NDIlib_source_t source_to_connect_to;
    NDIlib_recv_color_format_e color_format;
    NDIlib_recv_bandwidth_e bandwidth;
    bool allow_video_fields;
    const char* p_ndi_recv_name;
} NDIlib_recv_create_v3_t;

// Library
PROCESSINGNDILIB_API bool NDIlib_initialize(void);
PROCESSINGNDILIB_API void NDIlib_destroy(void);
PROCESSINGNDILIB_API const char* NDIlib_version(void);

// Finder
PROCESSINGNDILIB_API NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t* p_create_settings);
PROCESSINGNDILIB_API void NDIlib_find_destroy(NDIlib_find_instance_t p_instance);
PROCESSINGNDILIB_API bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t p_instance, uint32_t timeout_in_ms);
// The list stays valid until the next call of this function on the same finder, or its destruction.
PROCESSINGNDILIB_API const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t p_instance, uint32_t* p_no_sources);

// Receiver
PROCESSINGNDILIB_API NDIlib_recv_instance_t NDIlib_recv_create_v3(const NDIlib_recv_create_v3_t* p_create_settings);
PROCESSINGNDILIB_API void NDIlib_recv_destroy(NDIlib_recv_instance_t p_instance);
// A null source disconnects.
PROCESSINGNDILIB_API void NDIlib_recv_connect(NDIlib_recv_instance_t p_instance, const NDIlib_source_t* p_src);
PROCESSINGNDILIB_API NDIlib_frame_type_e NDIlib_recv_capture_v2(NDIlib_recv_instance_t p_instance,
    NDIlib_video_frame_v2_t* p_video_data, NDIlib_audio_frame_v2_t* p_audio_data,
    NDIlib_metadata_frame_t* p_metadata, uint32_t timeout_in_ms);
PROCESSINGNDILIB_API void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t p_instance, const NDIlib_video_frame_v2_t* p_video_data);
PROCESSINGNDILIB_API void NDIlib_recv_free_audio_v2(NDIlib_recv_instance_t p_instance, const NDIlib_audio_frame_v2_t* p_audio_data);
PROCESSINGNDILIB_API void NDIlib_recv_free_metadata(NDIlib_recv_instance_t p_instance, const NDIlib_metadata_frame_t* p_metadata);

// Frame synchroniser: never blocks; returns the current video frame and exactly the audio asked for.
PROCESSINGNDILIB_API NDIlib_framesync_instance_t NDIlib_framesync_create(NDIlib_recv_instance_t p_receiver);
PROCESSINGNDILIB_API void NDIlib_framesync_destroy(NDIlib_framesync_instance_t p_instance);
PROCESSINGNDILIB_API void NDIlib_framesync_capture_video(NDIlib_framesync_instance_t p_instance,
    NDIlib_video_frame_v2_t* p_video_data, NDIlib_frame_format_type_e field_type);
PROCESSINGNDILIB_API void NDIlib_framesync_free_video(NDIlib_framesync_instance_t p_instance, NDIlib_video_frame_v2_t* p_video_data);
PROCESSINGNDILIB_API void NDIlib_framesync_capture_audio(NDIlib_framesync_instance_t p_instance,
    NDIlib_audio_frame_v2_t* p_audio_data, int sample_rate, int no_channels, int no_samples);
PROCESSINGNDILIB_API void NDIlib_framesync_free_audio(NDIlib_framesync_instance_t p_instance, NDIlib_audio_frame_v2_t* p_audio_data);

// Utilities
PROCESSINGNDILIB_API void NDIlib_util_audio_to_interleaved_32f_v2(const NDIlib_audio_frame_v2_t* p_src,
    NDIlib_audio_frame_interleaved_32f_t* p_dst);

#ifdef __cplusplus
}
#endif
