#pragma once
// The audio back ends, one folder each. A back end that offers drivers from the start
// has a Register function in its folder and a line in the table in audiodriver.cpp;
// constructing a driver adds it to the driver list. OpenAL joins on request
// (RegisterOpenALDrivers), as listing its devices opens the library.
struct TAudioBackend {
  const char* folder;
  void (*Register)();
};

void RegisterDirectSoundDrivers();  // dsound/
void RegisterSoftAudioDrivers();    // softaudio/
