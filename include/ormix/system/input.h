#pragma once
// Polled keyboard and mouse state (gamepads: ormix/system/pad.h). While polling is enabled, an input hook on the event
// chain keeps tables of held keys, key presses, typed characters, mouse buttons, the
// pointer position and the wheel. Each reading function first pumps the system's
// messages (when auto-poll is on), so input that arrived before the call is seen.
#include <cstdint>

#include <ormix/system/event.h>

// Key codes are virtual-key numbers 1-255 (system/keycodes.h).

// Enables polled input from source (null: from any source): flushes keys and mouse and
// adds the input hook to the event chain. Nothing when already enabled.
void StartInputPolling(const TObjectPtr& source = nullptr);
// Removes the input hook, flushes keys and mouse and clears the source.
void StopInputPolling();
bool InputPollingEnabled();
// Whether reading functions pump the system first (initially on).
void SetAutoPoll(bool on);
bool AutoPoll();

// Down-transitions of the key since the previous call for it (or the last flush).
int KeyPresses(int key);
// 1 while the key is held, else 0.
int KeyHeld(int key);
// The oldest queued character, removed; 0 when none is queued.
int NextChar();
// Pumps, then empties the character queue and clears key states and presses.
void ClearKeys();

// Buttons 1 (left), 2 (right), 3 (middle).
int ButtonPresses(int button);
int ButtonHeld(int button);
int PointerX();
int PointerY();
int WheelPosition();
// Pumps, then clears button states and presses and the wheel position (x, y stay).
void ClearMouse();

// Flush, then wait for the first key press (codes checked 1 to 255) / character /
// button (1 to 3).
int AwaitKey();
int AwaitChar();
int AwaitButton();

// Set while the application is switched away from.
int IsSuspended();
// Whether a close was requested; reading clears it.
int QuitRequested();

// The input hook itself (exposed so that tests can see it on the chain).
TObjectPtr InputHook(int id, const TObjectPtr& data, const TObjectPtr& context);
