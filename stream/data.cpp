#include <ormix/stream/data.h>

#include <ormix/runtime/errors.h>

int TDataType::ReadCyclicObject(TStream&, TData&) { throw TRuntimeException("Unable to read object"); }
