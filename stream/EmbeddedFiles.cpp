#include "stream/EmbeddedFiles.h"

namespace vrl {

namespace {

struct Entry {
  Entry* next;
  Ref<String> name;
  const uint8_t* data;
  int32_t size;
};

// Newest first. Entries live for the whole run, so they are never freed.
Entry* gHead = nullptr;

const Entry* Find(String* name) {
  for (const Entry* e = gHead; e; e = e->next)
    if (CompareStrings(e->name, name) == 0) return e;
  return nullptr;
}

}  // namespace

int32_t AddEmbeddedFile(String* name, const void* data, int32_t size) {
  if (size < 0 || Find(name)) return 0;
  gHead = new Entry{gHead, Ref<String>(name ? name : EmptyString()), static_cast<const uint8_t*>(data), size};
  return 1;
}

const uint8_t* EmbeddedFilePointer(String* name) {
  const Entry* e = Find(name);
  return e ? e->data : nullptr;
}

int32_t EmbeddedFileLength(String* name) {
  const Entry* e = Find(name);
  return e ? e->size : 0;
}

}  // namespace vrl
