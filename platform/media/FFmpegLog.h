#pragma once
// FFmpeg logs to stderr unless told otherwise. Every user of its libraries
// turns that log off for the process (once); our errors go through results.

namespace tarnel {

void SilenceFFmpegLog();

}  // namespace tarnel
