#pragma once
// Compressed receiving, an extension of our simulated NDI runtime (not part of the vendor's
// interface, so nothing here carries its prefix). A full-bandwidth receiver created with the colour
// format NDIsim_recv_color_format_compressed gets the frames of a source that sends SpeedHQ as they
// travel: FourCC NDIsim_FourCC_SHQ2, p_data pointing at an NDIsim_compressed_packet_t followed by
// the packet's bytes, data_size_in_bytes covering both. Other frames (sources that send raw
// pictures, lower bandwidths) arrive decoded as with NDIlib_recv_color_format_UYVY_BGRA.
//
// A runtime offers the extension when it exports NDIsim_compressed_version; look it up at run time
// (the vendor's runtime does not have it, and knows nothing of the colour format).

#include <stdint.h>

#define NDIsim_recv_color_format_compressed 0x53494d43 /* 'SIMC' */
#define NDIsim_FourCC_SHQ2 0x32514853u /* 'SHQ2', SpeedHQ 4:2:2 */
#define NDIsim_compressed_packet_version 1
#define NDIsim_compressed_flag_keyframe 1u

typedef struct NDIsim_compressed_packet_t {
    uint32_t version; // NDIsim_compressed_packet_version
    uint32_t fourcc; // NDIsim_FourCC_SHQ2
    int64_t pts; // 100 ns units, as the frame's time stamp
    int64_t dts;
    uint32_t flags; // NDIsim_compressed_flag_keyframe: every SpeedHQ frame
    uint32_t data_size; // bytes after this header
} NDIsim_compressed_packet_t;

// Returns NDIsim_compressed_packet_version.
typedef int (*NDIsim_compressed_version_fn)(void);
#define NDIsim_compressed_version_name "NDIsim_compressed_version"
