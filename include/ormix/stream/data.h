#pragma once
// Serialisable data: an object names its data type, and the data type writes such objects
// to a stream and reads them back, so that what is read equals what was written. The tag
// names the type in stored data.
#include <memory>

#include <ormix/runtime/errors.h>
#include <ormix/runtime/text.h>

class TStream;
class TDataType;

class TData {
public:
  virtual ~TData() = default;
  virtual TDataType* DataType() = 0;
};
using TDataPtr = std::shared_ptr<TData>;

class TDataType {
public:
  virtual ~TDataType() = default;
  virtual Text Tag() = 0;
  // A new object read from the stream; null when the bytes do not describe one.
  virtual TDataPtr ReadObject(TStream& stream) = 0;
  // Throws TRuntimeException "Unable to write object" when object is not of this type.
  virtual void WriteObject(TStream& stream, TData& object) = 0;
  // Reads into an object that already exists (made before its contents are known, so
  // that references to it can be resolved while reading): 1 when read, 0 when the bytes
  // do not describe an object that fits it. Throws TRuntimeException "Unable to read
  // object" for a type that cannot be read in place (this base behaviour) or an object
  // of another type.
  virtual int ReadCyclicObject(TStream& stream, TData& object);
};

// The data type of a class T that has static DataTypeTag() and ReadData(stream) (null on
// invalid data) and members WriteData(stream) and ReadDataInto(stream) (false, object
// unchanged, on invalid data).
template <class T> class TDataTypeOf : public TDataType {
public:
  Text Tag() override { return ToText(T::DataTypeTag()); }
  TDataPtr ReadObject(TStream& stream) override { return T::ReadData(stream); }
  void WriteObject(TStream& stream, TData& object) override {
    auto* t = dynamic_cast<T*>(&object);
    if (!t) throw TRuntimeException("Unable to write object");
    t->WriteData(stream);
  }
  int ReadCyclicObject(TStream& stream, TData& object) override {
    auto* t = dynamic_cast<T*>(&object);
    if (!t) throw TRuntimeException("Unable to read object");
    return t->ReadDataInto(stream) ? 1 : 0;
  }
};
