// Builds without the OpenAL back end (the browser build): no OpenAL drivers to offer.
#include <ormix/audio/audio.h>

int RegisterOpenALDrivers() { return 0; }
