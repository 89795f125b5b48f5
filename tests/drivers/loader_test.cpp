// SPDX-License-Identifier: MIT
// Loading driver libraries: reuse by library and printer name, the ".dll" to
// ".so" rule, the printer's types element and the log lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "driver_test_util.h"
#include "support/env.h"
#include "support/files.h"
#include "klv/printer_driver.h"

namespace {

using klv::test::read_text;
using klv::test::ScopedEnv;
using klv::test::ScratchFolder;
using klv::test::write_text;

TEST(DriverLoader, SameLibraryIsReusedAnyLetterCase) {
  const std::string path = KLV_RECORDING_DRIVER;
  PrinterHandle* a = OpenPrinterHandle(path.c_str());
  ASSERT_NE(a, nullptr);
  // Same file under another letter case of the name: found as already loaded.
  PrinterHandle* b = OpenPrinterHandle(path.c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetPrinterHandleInstance(a), GetPrinterHandleInstance(b));
  EXPECT_NE(GetPrinterHandleProcAddress(a, "printer_funcs"), nullptr);
  EXPECT_EQ(GetPrinterHandleProcAddress(a, "no_such_symbol"), nullptr);
  FreePrinterHandle(a);
  // The module stays loaded while a holder lives.
  EXPECT_NE(GetPrinterHandleProcAddress(b, "printer_funcs"), nullptr);
  FreePrinterHandle(b);
}

TEST(DriverLoader, DllNamesAreLookedForAsSharedObjectsOnTheSearchPath) {
  ScratchFolder dir("dllname");
  std::filesystem::copy_file(KLV_RECORDING_DRIVER, dir.path("klvtest_rec.so"));
  ScopedEnv path("KLV_PATH", dir.str());
  ScopedEnv log("KLV_LOG", dir.path("log.txt"));
  for (const char* name : {"klvtest_rec.dll", "KLVTEST_REC.DLL", "klvtest_rec"}) {
    PrinterHandle* handle = OpenPrinterHandle(name);
    ASSERT_NE(handle, nullptr) << name;
    EXPECT_NE(GetPrinterHandleProcAddress(handle, "printer_funcs"), nullptr);
    FreePrinterHandle(handle);
  }
  EXPECT_EQ(OpenPrinterHandle("klvtest_missing.dll"), nullptr);
  const std::string text = read_text(dir.path("log.txt"));
  EXPECT_NE(text.find("Loaded \"" + dir.path("klvtest_rec.so") + "\""), std::string::npos) << text;
  EXPECT_NE(text.find("Could not locate klvtest_missing.dll"), std::string::npos) << text;

  // A file that is not a library is located but fails to load.
  write_text(dir.path("klvtest_broken.so"), "not an ELF file");
  EXPECT_EQ(OpenPrinterHandle("klvtest_broken.so"), nullptr);
  EXPECT_NE(read_text(dir.path("log.txt")).find("Failed to load klvtest_broken.so from \""),
            std::string::npos);
}

// A data folder with one printer whose types element names `library`.
void WritePrinterFiles(const ScratchFolder& dir, const std::string& device,
                       const std::string& library) {
  write_text(
      dir.path("Printer_Client.info"),
      "Printer_Client {\n  UserId { \"T\" }\n  Printers {\n    { \"Ghost\" \"printers/Ghost\" "
      "}\n  }\n}\n");
  write_text(dir.path("Printer_Types.info"),
             "Printer_Types\n {\n  Name { \"Ghost Device\" }\n  Device { \"" + device +
                 "\" }\n  DLL_File { \"" + library + "\" }\n  ID { \"1\" }\n }\n");
  write_text(dir.path("printers/Ghost/Info/Printer.RepLink"),
             "Printer_Repository { \"printers/Repository/Ghost\" }\n");
  write_text(dir.path("printers/Repository/Ghost/.Settings.xml"),
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Printer name=\"Ghost\" device=\"Ghost "
             "Device\" active=\"1\" defaultPageSize=\"\"/>\n");
}

TEST(DriverLoader, OpenPrinterThroughItsTypesElement) {
  {
    ScratchFolder dir("missing");
    WritePrinterFiles(dir, "Ghost", "klvtest_missing_driver.so");
    ScopedEnv path("KLV_PATH", dir.str());
    int32_t error = -1;
    EXPECT_EQ(SP_open_printer("Ghost", &error), nullptr);
    EXPECT_EQ(error, SP_ERR_LIBRARY);
    EXPECT_EQ(SP_open_printer("Nobody", &error), nullptr);
    EXPECT_EQ(error, SP_ERR_LIBRARY);
  }
  {
    ScratchFolder dir("nodevice");
    WritePrinterFiles(dir, "", KLV_RECORDING_DRIVER);
    ScopedEnv path("KLV_PATH", dir.str());
    int32_t error = -1;
    EXPECT_EQ(SP_open_printer("Ghost(2)", &error), nullptr);
    EXPECT_EQ(error, SP_ERR_NO_INSTANCE);
  }
  {
    ScratchFolder dir("found");
    WritePrinterFiles(dir, "Ghost Model", KLV_RECORDING_DRIVER);
    ScopedEnv path("KLV_PATH", dir.str());
    drivertest::Recorder rec;
    ASSERT_TRUE(rec.Load());
    rec.reset();
    int32_t error = -1;
    SP_OBJECT* object = SP_open_printer("Ghost(3)", &error);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(rec.Logged("open Ghost Model|Ghost(3)"));
    EXPECT_STREQ(GetPrinterHandleDeviceName(object->handle), "Ghost Model");
    // SP_init_printer finds the repository and hands the driver its info.
    EXPECT_EQ(SP_init_printer(object, "Ghost(3)", "opts"), 0);
    EXPECT_TRUE(rec.Logged("init_from_info info opts"));
    EXPECT_EQ(SP_init_printer(object, "Nobody", ""), SP_ERR_NO_REPOSITORY);
    SP_close(object);
    // The handle is kept under the printer name.
    PrinterHandle* again = FindPrinterHandle("Ghost(3)");
    ASSERT_NE(again, nullptr);
    EXPECT_STREQ(GetPrinterHandleDeviceName(again), "Ghost Model");
    FreePrinterHandle(again);
  }
}

}  // namespace
