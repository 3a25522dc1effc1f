// The game's executable: records the start-up facts, then runs the game.
#include "game/zingle.h"
#include <ormix/runtime/runtime.h>

int main(int argc, char** argv) {
  InitRuntime(argc, argv, true);
  GameMain();
  return 0;
}
