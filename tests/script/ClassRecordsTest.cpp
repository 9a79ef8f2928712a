// Every framework class describes every field, method, class function and
// constant that its documentation lists, in slot order. The table below is
// written by hand from the classes' documentation, not from the records, so
// a record that forgets, reorders or mis-kinds a member fails here; so does a
// class that is registered without an entry, or an entry whose class never
// registers.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/Card.h"
#include "audio/drivers/aurimix/AurimixAudioDriver.h"
#include "lith2d/Lith2D.h"
#include "lith2d/freetype/FreeTypeFont.h"
#include "net/HttpStream.h"
#include "net/Socket.h"
#include "net/SocketStream.h"
#include "net/rivo/RIvo.h"
#include "os/FileSystem.h"
#include "runtime/ClassRecord.h"
#include "script/OrderedMap.h"
#include "script/Reflection.h"
#include "script/lua/LuaObject.h"
#include "stream/Bank.h"
#include "stream/BankStream.h"
#include "stream/EndianStream.h"
#include "stream/StandardIO.h"
#include "stream/TextStream.h"
#include "system/Event.h"
#include "system/EventQueue.h"

using namespace vrl;

namespace {

// "c" constant, "f" field, "m" method, "s" class function; then the name.
using Members = std::vector<std::string>;

const std::map<std::string, Members>& Documented() {
  static const std::map<std::string, Members> table = {
      // Objects, strings, arrays and runtime errors.
      {"Object", {}},
      {"String",
       {"m Find",          "m FindLast",        "m Trim",          "m Replace",        "m ToLower",
        "m ToUpper",       "m ToInt",           "m ToLong",        "m ToFloat",        "m ToDouble",
        "m ToNarrowChars", "m ToWideChars",     "s FromInt",       "s FromLong",       "s FromFloat",
        "s FromDouble",    "s FromNarrowChars", "s FromWideChars", "s FromByteBuffer", "s FromUnitBuffer",
        "m StartsWith",    "m EndsWith",        "m Contains",      "m Split",          "m Join",
        "s FromUtf8",      "m ToUtf8"}},
      {"Array", {"m Sort", "m Dimensions"}},
      {"TVorlException", {}},
      {"TNullObjectException", {}},
      {"TNullMethodException", {}},
      {"TNullFunctionException", {}},
      {"TArrayBoundsException", {}},
      {"TOutOfDataException", {}},
      {"TRuntimeException", {"f error", "m ToString", "s Create"}},
      // Streams and stream factories.
      {"TIO", {"m Eof", "m Pos", "m Size", "m Seek", "m Flush", "m Close", "m Read", "m Write"}},
      {"TStream",
       {"m ReadBytes",   "m WriteBytes", "m SkipBytes",   "m ReadByte", "m WriteByte", "m ReadShort",
        "m WriteShort",  "m ReadInt",    "m WriteInt",    "m ReadLong", "m WriteLong", "m ReadFloat",
        "m WriteFloat",  "m ReadDouble", "m WriteDouble", "m ReadLine", "m WriteLine", "m ReadString",
        "m WriteString", "m ReadObject", "m WriteObject"}},
      {"TStreamException", {}},
      {"TStreamReadException", {}},
      {"TStreamWriteException", {}},
      {"TStreamWrapper", {"f _stream", "m SetStream"}},
      {"TStreamStream", {"m Close", "s Create"}},
      {"TStreamFactory", {"f _succ", "m CreateStream"}},
      {"TCStream",
       {"c MODE_READ", "c MODE_WRITE", "f _pos", "f _size", "f _cstream", "f _mode", "s OpenFile",
        "s CreateWithCStream"}},
      {"TCStandardIO", {}},
      // Memory streams and banks.
      {"TRamStream", {"f _pos", "f _size", "f _buf", "f _read", "f _write", "s Create"}},
      {"TRamStreamFactory", {}},
      {"TBank", {"f _buf",       "f _size",    "f _capacity", "f _locked",   "m _pad",        "m Buf",
                 "m Lock",       "m Unlock",   "m Size",      "m Capacity",  "m Resize",      "m Read",
                 "m Write",      "m PeekByte", "m PokeByte",  "m PeekShort", "m PokeShort",   "m PeekInt",
                 "m PokeInt",    "m PeekLong", "m PokeLong",  "m PeekFloat", "m PokeFloat",   "m PeekDouble",
                 "m PokeDouble", "m Save",     "s Load",      "s Create",    "s CreateStatic"}},
      {"TBankStream", {"f _pos", "f _bank", "s Create"}},
      {"TBankStreamFactory", {}},
      // Linked list.
      {"TLink", {"f _value", "f _succ", "f _pred", "m Value", "m NextLink", "m PrevLink", "m Remove"}},
      {"TList",
       {"f _head",
        "m _pad",
        "m Clear",
        "m IsEmpty",
        "m Contains",
        "m AddFirst",
        "m AddLast",
        "m First",
        "m Last",
        "m RemoveFirst",
        "m RemoveLast",
        "m FirstLink",
        "m LastLink",
        "m InsertBeforeLink",
        "m InsertAfterLink",
        "m FindLink",
        "m ValueAtIndex",
        "m Count",
        "m Remove",
        "m Swap",
        "m Copy",
        "m Reverse",
        "m Reversed",
        "m Sort",
        "m ObjectEnumerator",
        "m ToArray",
        "s FromArray"}},
      {"TListEnum", {"f _link", "m HasNext", "m NextObject"}},
      // Endian and text streams. Swap2, Swap4 and Swap8 read and write raw
      // memory and touch no stream: class functions.
      {"TXEndianStream", {"s Swap2", "s Swap4", "s Swap8", "s Create", "s BigEndian", "s LittleEndian"}},
      {"TXEndianStreamFactory", {}},
      {"TTextStream",
       {"c LATIN1", "c UTF8", "c UTF16BE", "c UTF16LE", "f _encoding", "f _bufcount", "m ReadFile",
        "m ReadChar", "m WriteChar", "s Create", "m _ReadByte", "m _WriteByte", "m _FlushRead",
        "m _FlushWrite"}},
      {"TTextStreamFactory", {}},
      // Pixmaps and picture loaders.
      {"TPixmap",
       {"f pixels", "f width", "f height", "f pitch", "f format", "f capacity", "f _source", "m _pad",
        "m PixelPtr", "m Window", "m Copy", "m Paste", "m Convert", "m ReadPixel", "m WritePixel", "s Create",
        "s CreateStatic", "m ClearPixels"}},
      {"TPixmapLoader", {"f _succ", "m LoadPixmap"}},
      {"TPixmapLoaderPNG", {"m LoadPixmap"}},
      {"TPixmapLoaderJPG", {"m LoadPixmap"}},
      {"TPixmapLoaderBMP", {"m LoadPixmap"}},
      {"TPixmapLoaderTGA", {"m LoadPixmap"}},
      {"tgahdr",
       {"f idlen", "f colourmaptype", "f imgtype", "f indexlo", "f indexhi", "f lenlo", "f lenhi", "f cosize",
        "f x0", "f y0", "f width", "f height", "f psize", "f attbits"}},
      // Lith2D drawing state and driver.
      {"TLith2DGraphics",
       {"f color_red",      "f color_green",   "f color_blue",       "f color_alpha",      "f clscolor_red",
        "f clscolor_green", "f clscolor_blue", "f line_width",       "f tform_rot",        "f tform_scale_x",
        "f tform_scale_y",  "f tform_ix",      "f tform_iy",         "f tform_jx",         "f tform_jy",
        "f viewport_x",     "f viewport_y",    "f viewport_w",       "f viewport_h",       "f origin_x",
        "f origin_y",       "f handle_x",      "f handle_y",         "f image_font",       "f blend_mode",
        "f vres_width",     "f vres_height",   "f vres_mousexscale", "f vres_mouseyscale", "f g_width",
        "f g_height",       "f _graphics",     "f _driver",          "f _setup",           "m Driver",
        "m GetSettings",    "m Close",         "m Validate",         "m MakeCurrent",      "s ClearCurrent",
        "s Current",        "s Create"}},
      {"TLith2DDriver",
       {"m CreateFrameFromPixmap", "m SetBlend", "m SetAlpha", "m SetColor", "m SetClsColor", "m SetViewport",
        "m SetTransform", "m SetLineWidth", "m Cls", "m Plot", "m DrawLine", "m DrawRect", "m DrawOval",
        "m DrawPoly", "m DrawPixmap", "m GrabPixmap", "m SetResolution"}},
      // Images, frames and fonts.
      {"TImageFrame", {"m Draw"}},
      {"TImage",
       {"f width", "f height", "f flags", "f mask_r", "f mask_g", "f mask_b", "f handle_x", "f handle_y",
        "f pixmaps", "f frames", "f seqs", "m _pad", "m Frame", "m Lock", "m SetPixmap", "s Create", "s Load",
        "s LoadAnim"}},
      {"TImageFont",
       {"f _src_font", "f _glyphs", "f _imageFlags", "m Style", "m Height", "m CountGlyphs", "m CharToGlyph",
        "m LoadGlyph", "m Draw", "s Load", "s CreateDefault"}},
      {"TImageGlyph",
       {"f _image", "f _advance", "f _x", "f _y", "f _w", "f _h", "m Pixels", "m Advance", "m GetRect"}},
      {"TFont", {"m Style", "m Height", "m CountGlyphs", "m CharToGlyph", "m LoadGlyph"}},
      {"TGlyph", {"m Pixels", "m Advance", "m GetRect"}},
      {"TFontLoader", {"f _succ", "m LoadFont"}},
      // OpenGL graphics and 2D driver.
      {"TGLGraphics", {"f _context", "m Driver", "m GetSettings", "m Close"}},
      {"TGLGraphicsDriver",
       {"m GraphicsModes", "m AttachGraphics", "m CreateGraphics", "m SetGraphics", "m Flip"}},
      {"TGLImageFrame",
       {"f u0", "f v0", "f u1", "f v1", "f uscale", "f vscale", "f name", "f seq", "m Draw",
        "s CreateFromPixmap"}},
      {"TGLLith2DDriver", {"m Create", "m ResetGLContext"}},
      // Software graphics and 2D driver.
      {"TSoftGraphics",
       {"f _kind", "f _width", "f _height", "f _depth", "f _hertz", "f _flags", "m Driver", "m GetSettings",
        "m Close"}},
      {"TSoftGraphicsDriver",
       {"m GraphicsModes", "m AttachGraphics", "m CreateGraphics", "m SetGraphics", "m Flip"}},
      {"TSoftImageFrame", {"f seq", "m Draw", "s CreateFromPixmap"}},
      {"TSoftLith2DDriver", {}},
      // Graphics modes and drivers.
      {"TGraphicsDriver",
       {"m GraphicsModes", "m AttachGraphics", "m CreateGraphics", "m SetGraphics", "m Flip"}},
      {"TGraphics", {"m _pad", "m Driver", "m GetSettings", "m Close"}},
      {"TGraphicsMode", {"f width", "f height", "f depth", "f hertz"}},
      // FreeType fonts (the face record copy is read from the library).
      {"TFreeTypeGlyph",
       {"f _pixmap", "f _advance", "f _x", "f _y", "f _w", "f _h", "m Pixels", "m Advance", "m GetRect"}},
      {"TFreeTypeFont",
       {"f _ft_face", "f _style", "f _height", "f _ascend", "f _descend", "f _glyphs", "f _buf",
        "f _buf_size", "m Style", "m Height", "m CountGlyphs", "m CharToGlyph", "m LoadGlyph", "s Load"}},
      {"TFreeTypeFontLoader", {"m LoadFont"}},
      // Collision layers.
      {"TQuad",
       {"f link", "f id", "f mask", "f frame", "f minx", "f miny", "f maxx", "f maxy", "f xyuv",
        "m SetCoords"}},
      // Audio samples, sounds, channels and drivers.
      {"TAudioSample",
       {"f samples", "f length", "f hertz", "f format", "f capacity", "m Copy", "m Convert", "s Create",
        "s CreateStatic"}},
      {"TAudioSampleLoader", {"f _succ", "m LoadAudioSample"}},
      {"TAudioSampleLoaderWAV", {}},
      {"TAudioSampleLoaderOGG", {}},
      {"TSound", {"m Play", "m Cue", "s Load"}},
      {"TChannel",
       {"m Stop", "m SetPaused", "m SetVolume", "m SetPan", "m SetDepth", "m SetRate", "m Playing"}},
      {"TAudioDriver",
       {"f _succ", "m Name", "m Startup", "m Shutdown", "m CreateSound", "m AllocChannel", "m LoadSound"}},
      {"TAurimixSound", {"f am_sound", "s CreateWithSound"}},
      {"TAurimixChannel", {"f am_channel", "m Position", "s CreateWithChannel"}},
      {"TAurimixAudioDriver", {"f _name", "f _mode", "s Create"}},
      {"TBuf", {"f _succ", "f _buffer", "f _seq", "f _paused", "m Playing", "m Active"}},
      {"TDirectSoundSound", {"f _seq", "f _buffer", "f _hertz", "f _loop", "f _bufs", "s Create"}},
      {"TDirectSoundChannel",
       {"f _volume", "f _pan", "f _rate", "f _static", "f _sound", "f _buf", "f _seq", "f _hertz",
        "f _playFlags", "m Cue", "s Create"}},
      {"TDirectSoundAudioDriver",
       {"f _name", "f _mode", "f _dsound", "f _lonely", "s Create", "m AddLonely", "m FlushLonely"}},
      {"TOpenALSource",
       {"f _succ", "f _id", "f _seq", "f _sound", "m Playing", "m Paused", "m Active", "m LogState"}},
      {"TOpenALSound", {"f _buffer", "f _loop", "s Create"}},
      {"TOpenALChannel", {"f _source", "f _seq", "f _static", "m Cue", "s Create"}},
      {"TOpenALAudioDriver", {"f _name", "f _devname", "f _device", "f _context", "s Create"}},
      // Sockets, socket and HTTP streams, RIvo.
      {"TSocket",
       {"f _socket",
        "f _autoClose",
        "f _localIp",
        "f _localPort",
        "f _remoteIp",
        "f _remotePort",
        "m Send",
        "m Recv",
        "m Close",
        "m Connected",
        "m Bind",
        "m Connect",
        "m Listen",
        "m Accept",
        "m ReadAvail",
        "m SetTCPNoDelay",
        "m Socket",
        "m LocalIp",
        "m LocalPort",
        "m RemoteIp",
        "m RemotePort",
        "m UpdateLocalName",
        "m UpdateRemoteName",
        "s Create",
        "s CreateUDP",
        "s CreateTCP"}},
      {"TSocketStream", {"f _socket", "f _autoClose", "m Socket", "s Create", "s CreateClient"}},
      {"TSocketException", {"m ToString"}},
      {"TSocketStreamFactory", {"m CreateStream"}},
      {"THTTPStreamFactory", {"m CreateStream"}},
      {"ENetEvent", {"f event", "f peer", "f channel", "f packet"}},
      {"TGNetMsg", {"f id", "f state", "f data"}},
      {"TGNetSlot",
       {"f _type", "f _int", "f _float", "f _string", "m SetInt", "m SetFloat", "m SetString", "m GetInt",
        "m GetFloat", "m GetString"}},
      {"TGNetObject",
       {"f _id",        "f _state",    "f _host",      "f _peer",     "f _target",     "f _slots",
        "f _modified",  "m State",     "m Close",      "m SetInt",    "m SetFloat",    "m SetString",
        "m GetInt",     "m GetFloat",  "m GetString",  "m WriteSlot", "m Sync",        "m Update",
        "m CreatedMsg", "m ClosedMsg", "m MessageMsg", "m PackSlots", "m UnpackSlots", "s Create"}},
      {"TGNetHost",
       {"f _enetHost",     "f _enetEvents",     "f _peers",          "f _objects",      "f _created",
        "f _modified",     "f _closed",         "f _messages",       "f _idMap",        "m UpdateENetEvents",
        "m Sync",          "m Close",           "m BroadCast",       "m AddPeer",       "m Objects",
        "m Peers",         "m ObjectsCreated",  "m ObjectsModified", "m ObjectsClosed", "m CreateObject",
        "m CreateMessage", "m SendRIvoMessage", "m AllocId",         "m MapObject",     "m UnmapObject",
        "m Listen",        "m Connect",         "s Create"}},
      {"TGNetPeer",
       {"f _enetPeer", "f _localToRemote", "f _remoteToLocal", "m Close", "m MapLocalId", "m UnmapLocalId",
        "m RecvMsg", "m SendMsg", "s Create"}},
      // The Lua bridge.
      {"TLuaClass",
       {"f _source", "f _chunk", "m SourceCode", "m SetSourceCode", "s Create", "m lua_pushchunk"}},
      {"TLuaObject", {"f _fenv", "f _class", "m Init", "m Invoke", "s Create", "m lua_pushfenv"}},
      {"TDummyLuaSuper", {}},
      // Events, hooks, timers and the system driver.
      {"THook", {"f succ", "f priority", "f func", "f context"}},
      {"TEvent",
       {"f id", "f source", "f data", "f mods", "f x", "f y", "f extra", "m Emit", "s Create",
        "s AllocUserId", "s RegisterId", "s DescriptionForId", "m ToString"}},
      {"TTimer",
       {"f _ticks", "f _wticks", "f _cycle", "f _event", "f _handle", "m Ticks", "m Stop", "m Fire", "m Wait",
        "s Create"}},
      {"TSystemDriver",
       {"m Poll", "m Wait", "m MoveMouse", "m SetMouseVisible", "m Notify", "m Confirm", "m Proceed",
        "m RequestFile", "m RequestDir", "m OpenURL"}},
      {"TSDLSystemDriver", {}},
      // Processes and the file system.
      {"TPipeStream",
       {"f readbuffer", "f bufferpos", "f readhandle", "f writehandle", "m Close", "m Flush", "m ReadLine",
        "m ReadAvail", "m ReadPipe", "s Create"}},
      {"TProcess",
       {"f name", "f handle", "f pipe", "f err", "m Status", "m Close", "m Terminate", "s Create",
        "s FlushZombies", "s TerminateAll"}},
      {"TDirectoryHandle", {}},
      // Reflection.
      {"TClass", {"f _class", "m SetClass"}},
      {"TMember", {"f _name", "f _typeId", "f _meta", "m Name", "m TypeId", "m MetaData"}},
      {"TField",
       {"f _index", "m Init", "m Get", "m GetInt", "m GetLong", "m GetFloat", "m GetDouble", "m GetString",
        "m Set", "m SetInt", "m SetLong", "m SetFloat", "m SetDouble", "m SetString"}},
      {"TMethod", {"f _selfTypeId", "f _index", "f _argTypes", "m Init", "m ArgTypes", "m Invoke"}},
      {"TTypeId", {"f _name",           "f _meta",
                   "f _class",          "f _size",
                   "f _fields",         "f _methods",
                   "f _super",          "f _derived",
                   "f _arrayType",      "f _elementType",
                   "f _typeTag",        "m Name",
                   "m MetaData",        "m SuperType",
                   "m ArrayType",       "m ElementType",
                   "m ExtendsType",     "m DerivedTypes",
                   "m NewObject",       "m Fields",
                   "m Methods",         "m FindField",
                   "m FindMethod",      "m EnumFields",
                   "m EnumMethods",     "m NewArray",
                   "m ArrayLength",     "m ArrayDimensions",
                   "m GetArrayElement", "m SetArrayElement",
                   "s ForName",         "s ForObject",
                   "s EnumTypes",       "m Init",
                   "m SetClass",        "s _Update",
                   "m _Resolve"}},
      // Ordered map.
      {"TKeyValue", {"f _key", "f _value", "m Key", "m Value"}},
      {"TNode",
       {"f _color", "f _parent", "f _left", "f _right", "m NextNode", "m PrevNode", "m Clear", "m Copy",
        "m Key", "m Value"}},
      {"TMap",
       {"f _root",
        "c RED",
        "c BLACK",
        "m Clear",
        "m IsEmpty",
        "m Insert",
        "m Contains",
        "m ValueForKey",
        "m Remove",
        "m Keys",
        "m Values",
        "m Copy",
        "m ObjectEnumerator",
        "m _FirstNode",
        "m _LastNode",
        "m _FindNode",
        "m _RemoveNode",
        "m _InsertFixup",
        "m _RotateLeft",
        "m _RotateRight",
        "m _DeleteFixup"}},
      {"TNodeEnumerator", {"f _node", "m HasNext", "m NextObject"}},
      {"TKeyEnumerator", {"m NextObject"}},
      {"TValueEnumerator", {"m NextObject"}},
      {"TMapEnumerator", {"f _enumerator", "m ObjectEnumerator"}},
      // The card.
      {"snowflake", {"f x", "f y", "f col", "f dirx", "f diry", "f style", "f sinus"}},
      // The recording 2D driver for display-free drawing (the framework's own
      // testing back-end): nothing beyond what its bases declare.
      {"TRecordingGraphics", {}},
      {"TRecordingLith2DDriver", {}},
      {"TRecordingImageFrame", {}},
  };
  return table;
}

std::string KindLetter(Declaration::Kind kind) {
  switch (kind) {
    case Declaration::Kind::Constant:
      return "c";
    case Declaration::Kind::Field:
      return "f";
    case Declaration::Kind::Method:
      return "m";
    case Declaration::Kind::Function:
      return "s";
  }
  return "?";
}

Members Declared(const ClassRecord& record) {
  Members members;
  for (const Declaration& d : record.Declarations())
    members.push_back(KindLetter(d.kind) + " " + d.name.substr(0, d.name.find('{')));
  return members;
}

void InitEveryModule() {
  card::InitModules();
  aurimix::Init();
  lith2d::Init();
  freetype::Init();
  bank::Init();
  bankstream::Init();
  endianstream::Init();
  textstream::Init();
  standardio::Init();
  filesystem::Init();
  events::Init();
  eventqueue::Init();
  orderedmap::Init();
  reflection::Init();
  sockets::Init();
  socketstream::Init();
  httpstream::Init();
  rivo::Init();
  lua::Init();
}

TEST(ClassRecords, EveryRegisteredClassDeclaresItsDocumentedMembersInOrder) {
  InitEveryModule();
  const auto& table = Documented();
  std::set<std::string> seen;
  for (const ClassRecord* record : RegisteredClasses()) {
    const std::string& name = record->Name();
    if (!seen.insert(name).second) continue;
    auto entry = table.find(name);
    if (entry == table.end()) {
      ADD_FAILURE() << name << " is registered but has no documented member list";
      continue;
    }
    EXPECT_EQ(Declared(*record), entry->second) << "class " << name;
  }
  for (const auto& [name, members] : table) EXPECT_TRUE(seen.count(name)) << name << " was never registered";
}

// Every tag that a record gives is one that reflection can read or knows to
// skip: a type it reflects, a pointer ("*"), or a function signature.
TEST(ClassRecords, EveryTagIsReflectedOrSkippable) {
  InitEveryModule();
  for (const ClassRecord* record : RegisteredClasses()) {
    for (const Declaration& d : record->Declarations()) {
      std::string tag = d.Tag();
      std::string base = tag.substr(0, tag.find('{'));
      SCOPED_TRACE(record->Name() + "." + d.name + " \"" + tag + "\"");
      switch (d.kind) {
        case Declaration::Kind::Field:
          EXPECT_FALSE(base.empty());
          EXPECT_NE(d.address, nullptr);
          break;
        case Declaration::Kind::Method:
        case Declaration::Kind::Function:
          ASSERT_FALSE(base.empty());
          EXPECT_EQ(base[0], '(');
          EXPECT_NE(base.find(')'), std::string::npos);
          // A member whose signature has no pointer can be invoked.
          if (base.find('*') == std::string::npos && base.find("((") == std::string::npos &&
              base.find(",(") == std::string::npos) {
            EXPECT_NE(d.invoke, nullptr);
          }
          break;
        case Declaration::Kind::Constant:
          EXPECT_FALSE(d.value.empty());
          break;
      }
    }
  }
}

// Reflection over the completed records: class functions and members that
// take or hold raw memory are left out, everything else is reachable.
TEST(ClassRecords, ReflectionSkipsFunctionsAndPointerMembers) {
  InitEveryModule();
  Ref<TTypeId> bank = TTypeId::ForName(String::FromNarrow("TBank"));
  ASSERT_FALSE(bank.IsNull());
  EXPECT_TRUE(bank->FindField(String::FromNarrow("_buf")).IsNull());  // a raw byte block
  EXPECT_FALSE(bank->FindField(String::FromNarrow("_size")).IsNull());
  EXPECT_TRUE(bank->FindMethod(String::FromNarrow("Buf")).IsNull());     // returns the block
  EXPECT_TRUE(bank->FindMethod(String::FromNarrow("Create")).IsNull());  // a class function
  EXPECT_FALSE(bank->FindMethod(String::FromNarrow("PeekInt")).IsNull());

  Ref<TTypeId> io = TTypeId::ForName(String::FromNarrow("TIO"));
  ASSERT_FALSE(io.IsNull());
  EXPECT_TRUE(io->FindMethod(String::FromNarrow("Read")).IsNull());  // takes a buffer
  EXPECT_FALSE(io->FindMethod(String::FromNarrow("Seek")).IsNull());

  Ref<TTypeId> graphics = TTypeId::ForName(String::FromNarrow("TLith2DGraphics"));
  ASSERT_FALSE(graphics.IsNull());
  EXPECT_FALSE(graphics->FindField(String::FromNarrow("vres_mouseyscale")).IsNull());
  EXPECT_TRUE(graphics->FindMethod(String::FromNarrow("GetSettings")).IsNull());  // out parameters
  EXPECT_FALSE(graphics->FindMethod(String::FromNarrow("Validate")).IsNull());
}

}  // namespace
