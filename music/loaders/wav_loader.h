#pragma once
// Loader of wave files as music: an uncompressed PCM wave file of 8 or 16 bits, mono or
// stereo, streamed from its file (TWavStream, <ormix/music/audiostream.h>).
#include <cstddef>
#include <cstdint>

#include <ormix/music/audiostream.h>

// True when the first bytes are a RIFF file of the WAVE kind. Allocates nothing.
bool ProbeWAV(const uint8_t* head, size_t size);
// TWavStream::Load as a music loader.
TMusicPtr LoadWAV(const TMusicSource& source);
