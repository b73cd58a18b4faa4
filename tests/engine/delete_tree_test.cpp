#include "engine/delete_tree.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/engine/engine_test_support.h"
#include "tests/fakes/diag_capture.h"

namespace {

constexpr DWORD kVolume = FILE_ATTRIBUTE_VOLUME_ROOT;

struct CDeleteCase {
  const char* pszName;
  std::function<void(CFakeDevice&)> fnSetup;  // the tree, added in listing order
  std::wstring strPath;
  std::vector<std::wstring> ops;
  std::vector<std::string> lines;
  CTree after;
};

// A name that makes "\SDMMC\L\" + name exactly n characters long.
std::wstring NameForLength(size_t n) { return std::wstring(n - 9, L'n'); }

TEST(DeleteTree, RemovesDepthFirstKeepingVolumeRootsAndHeldFiles) {
  const std::wstring strLong = L"\\SDMMC\\L\\" + NameForLength(MAX_PATH);
  const std::wstring strFits = L"\\SDMMC\\L\\" + NameForLength(MAX_PATH - 1);
  const std::vector<CDeleteCase> cases = {
      {"a volume root: emptied, kept, with volume roots inside kept too",
       [](CFakeDevice& dev) {
         dev.AddFile(L"\\ResidentFlash\\a.txt", "a");
         dev.AddFile(L"\\ResidentFlash\\sub\\b.txt", "b");
         dev.AddFolder(L"\\ResidentFlash\\empty");
         dev.AddFile(L"\\ResidentFlash\\ro.dat", "r", FILE_ATTRIBUTE_READONLY);
         dev.AddFile(L"\\ResidentFlash\\hid.dat", "h",
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
         dev.AddVolumeRoot(L"\\ResidentFlash\\card");
         dev.AddFile(L"\\ResidentFlash\\card\\c.txt", "c");
       },
       L"\\ResidentFlash",
       {L"GetAttributes \\ResidentFlash",
        L"ListFolder \\ResidentFlash",
        L"GetAttributes \\ResidentFlash\\a.txt",
        L"SetAttributes \\ResidentFlash\\a.txt 0x80",
        L"DeleteFile \\ResidentFlash\\a.txt",
        L"ListFolder \\ResidentFlash\\sub",
        L"GetAttributes \\ResidentFlash\\sub\\b.txt",
        L"SetAttributes \\ResidentFlash\\sub\\b.txt 0x80",
        L"DeleteFile \\ResidentFlash\\sub\\b.txt",
        L"GetAttributes \\ResidentFlash\\sub",
        L"RemoveFolder \\ResidentFlash\\sub",
        L"ListFolder \\ResidentFlash\\empty",
        L"GetAttributes \\ResidentFlash\\empty",
        L"RemoveFolder \\ResidentFlash\\empty",
        L"GetAttributes \\ResidentFlash\\ro.dat",
        L"SetAttributes \\ResidentFlash\\ro.dat 0x0",
        L"DeleteFile \\ResidentFlash\\ro.dat",
        L"GetAttributes \\ResidentFlash\\hid.dat",
        L"SetAttributes \\ResidentFlash\\hid.dat 0x20",
        L"DeleteFile \\ResidentFlash\\hid.dat",
        L"ListFolder \\ResidentFlash\\card",
        L"GetAttributes \\ResidentFlash\\card\\c.txt",
        L"SetAttributes \\ResidentFlash\\card\\c.txt 0x80",
        L"DeleteFile \\ResidentFlash\\card\\c.txt",
        L"GetAttributes \\ResidentFlash\\card",
        L"GetAttributes \\ResidentFlash"},
       {"dele main:\\ResidentFlash\\sub\r\n", "dele null:\\ResidentFlash\\empty\r\n",
        "ignore dir:\\ResidentFlash\\card\r\n", "dele main:\\ResidentFlash\\card\r\n",
        "ignore dir:\\ResidentFlash\r\n", "dele main:\\ResidentFlash\r\n"},
       {{L"\\ResidentFlash", Folder(kVolume)},
        {L"\\ResidentFlash\\card", Folder(kVolume)},
        {L"\\SDMMC", Folder(kVolume)}}},
      {"an ordinary folder goes with its content",
       [](CFakeDevice& dev) { dev.AddFile(L"\\Data\\x.bin", "x"); },
       L"\\Data",
       {L"GetAttributes \\Data", L"ListFolder \\Data", L"GetAttributes \\Data\\x.bin",
        L"SetAttributes \\Data\\x.bin 0x80", L"DeleteFile \\Data\\x.bin", L"GetAttributes \\Data",
        L"RemoveFolder \\Data"},
       {"dele main:\\Data\r\n"},
       {{L"\\ResidentFlash", Folder(kVolume)}, {L"\\SDMMC", Folder(kVolume)}}},
      {"a folder reading 0x110 with a further bit is an ordinary folder",
       [](CFakeDevice& dev) {
         dev.AddFolder(L"\\SDMMC\\T", FILE_ATTRIBUTE_VOLUME_ROOT | FILE_ATTRIBUTE_ARCHIVE);
       },
       L"\\SDMMC\\T",
       {L"GetAttributes \\SDMMC\\T", L"ListFolder \\SDMMC\\T", L"GetAttributes \\SDMMC\\T",
        L"RemoveFolder \\SDMMC\\T"},
       {"dele null:\\SDMMC\\T\r\n"},
       {{L"\\ResidentFlash", Folder(kVolume)}, {L"\\SDMMC", Folder(kVolume)}}},
      {"a missing path: only the null line",
       nullptr,
       L"\\SDMMC\\Nope",
       {L"GetAttributes \\SDMMC\\Nope = 2", L"ListFolder \\SDMMC\\Nope = 3",
        L"GetAttributes \\SDMMC\\Nope = 2", L"RemoveFolder \\SDMMC\\Nope = 2"},
       {"dele null:\\SDMMC\\Nope\r\n"},
       {{L"\\ResidentFlash", Folder(kVolume)}, {L"\\SDMMC", Folder(kVolume)}}},
      {"a file path: deleted without a folder line",
       [](CFakeDevice& dev) { dev.AddFile(L"\\SDMMC\\x.bin", "x", FILE_ATTRIBUTE_READONLY); },
       L"\\SDMMC\\x.bin",
       {L"GetAttributes \\SDMMC\\x.bin", L"GetAttributes \\SDMMC\\x.bin",
        L"SetAttributes \\SDMMC\\x.bin 0x0", L"DeleteFile \\SDMMC\\x.bin"},
       {},
       {{L"\\ResidentFlash", Folder(kVolume)}, {L"\\SDMMC", Folder(kVolume)}}},
      {"a running program is ended and deleted; a file held by another program stays",
       [](CFakeDevice& dev) {
         dev.AddFile(L"\\SDMMC\\App\\NAVI.EXE", "exe");
         dev.AddFile(L"\\SDMMC\\App\\maps\\map.dat", "map");
         dev.AddProcess(10, L"NAVI.EXE", L"\\SDMMC\\App\\NAVI.EXE");
         dev.AddProcess(11, L"VIEWER.EXE", L"\\SDMMC\\App\\maps\\map.dat");
       },
       L"\\SDMMC\\App",
       {L"GetAttributes \\SDMMC\\App",
        L"ListFolder \\SDMMC\\App",
        L"GetAttributes \\SDMMC\\App\\NAVI.EXE",
        L"SetAttributes \\SDMMC\\App\\NAVI.EXE 0x80",
        L"DeleteFile \\SDMMC\\App\\NAVI.EXE = 32",
        L"Snapshot",
        L"OpenProcess 10",
        L"TerminateProcess 10",
        L"WaitProcess 10 2500",
        L"DeleteFile \\SDMMC\\App\\NAVI.EXE",
        L"ListFolder \\SDMMC\\App\\maps",
        L"GetAttributes \\SDMMC\\App\\maps\\map.dat",
        L"SetAttributes \\SDMMC\\App\\maps\\map.dat 0x80",
        L"DeleteFile \\SDMMC\\App\\maps\\map.dat = 32",
        L"Snapshot",
        L"DeleteFile \\SDMMC\\App\\maps\\map.dat = 32",
        L"GetAttributes \\SDMMC\\App\\maps",
        L"RemoveFolder \\SDMMC\\App\\maps = 145",
        L"GetAttributes \\SDMMC\\App",
        L"RemoveFolder \\SDMMC\\App = 145"},
       {"terminate NAVI.EXE ok\r\n", "dele main:\\SDMMC\\App\\maps\r\n",
        "dele main:\\SDMMC\\App\r\n"},
       {{L"\\ResidentFlash", Folder(kVolume)},
        {L"\\SDMMC", Folder(kVolume)},
        {L"\\SDMMC\\App", Folder()},
        {L"\\SDMMC\\App\\maps", Folder()},
        {L"\\SDMMC\\App\\maps\\map.dat", File("map")}}},
      {"a path of 260 characters is passed by, never cut short",
       [&](CFakeDevice& dev) {
         dev.AddFile(strLong, "long");
         dev.AddFile(strFits, "fits");
       },
       L"\\SDMMC\\L",
       {L"GetAttributes \\SDMMC\\L", L"ListFolder \\SDMMC\\L", L"GetAttributes " + strFits,
        L"SetAttributes " + strFits + L" 0x80", L"DeleteFile " + strFits,
        L"GetAttributes \\SDMMC\\L", L"RemoveFolder \\SDMMC\\L = 145"},
       {"dele main:\\SDMMC\\L\r\n"},
       {{L"\\ResidentFlash", Folder(kVolume)},
        {L"\\SDMMC", Folder(kVolume)},
        {L"\\SDMMC\\L", Folder()},
        {strLong, File("long")}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    if (c.fnSetup) c.fnSetup(dev);
    COldDiagCapture diag;
    COldHandleWatch handles;
    EXPECT_EQ(DeleteTree(c.strPath.c_str()), TRUE);
    EXPECT_EQ(Narrow(dev.Operations()), Narrow(c.ops));
    EXPECT_EQ(diag.Lines(), c.lines);
    EXPECT_EQ(dev.Snapshot(), c.after);
    EXPECT_EQ(handles.Leaked(), std::vector<UINT_PTR>{});
  }
}

}  // namespace
