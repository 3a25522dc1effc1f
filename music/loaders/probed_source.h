#pragma once
// A music source opened once for the loaders: a URL is opened here, the first bytes are
// read for the probes, and every loader then gets the same stream, rewound.
#include <cstddef>
#include <cstdint>

#include <ormix/music/music.h>

class TProbedSource {
public:
  explicit TProbedSource(const TMusicSource& given);

  TMusicSource source;  // the opened stream, or the caller's source when it cannot rewind
  // True when a loader with this probe should be asked (always without probing).
  bool Accepts(TMusicProbeFunc probe) const;
  // Back to the first byte before the next loader.
  void Rewind() const;

private:
  uint8_t head[CantorLoader::ProbeBytes] = {};
  size_t size = 0;
  bool probed = false;
};
