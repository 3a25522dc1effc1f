// A music source opened once and probed: see probed_source.h.
#include "probed_source.h"

#include <ormix/stream/stream.h>

TProbedSource::TProbedSource(const TMusicSource& given) : source(given) {
  TStreamPtr s = given.stream ? given.stream : OpenForReading(given.url);
  if (!s) return;  // the loaders are asked about the URL as it is
  s->Seek(0);
  if (s->Pos() != 0) return;
  while (size < CantorLoader::ProbeBytes) {
    const int n = s->Read(head + size, static_cast<int>(CantorLoader::ProbeBytes - size));
    if (n <= 0) break;
    size += static_cast<size_t>(n);
  }
  s->Seek(0);
  if (s->Pos() != 0) {
    size = 0;
    return;
  }
  source = TMusicSource(s);
  probed = true;
}

bool TProbedSource::Accepts(TMusicProbeFunc probe) const { return !probed || !probe || probe(head, size); }

void TProbedSource::Rewind() const {
  if (source.stream) source.stream->Seek(0);
}
