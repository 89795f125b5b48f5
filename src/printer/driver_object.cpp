// SPDX-License-Identifier: MIT
// The printer object: opening it over a driver library, closing it, loading and
// initialising its printer info, and the print sequence calls.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "klv/kernel_stral.h"
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/printer_driver.h"
#include "klv/prntinfo.h"
#include "printer/driver_calls.h"
#include "printer/driver_loader.h"

using klv::printer::sp::action;

namespace {

// Opens a printer object over `handle` (which it takes over). The steps and
// their error codes are those of SP_open.
SP_OBJECT* open_object(PrinterHandle* handle, const char* device, int32_t* error,
                       const char* printer) {
  auto fail = [&](SP_OBJECT* object, int32_t code) -> SP_OBJECT* {
    if (object) {
      SP_close(object);
    } else {
      FreePrinterHandle(handle);
    }
    if (error) *error = code;
    return nullptr;
  };
  auto* object = static_cast<SP_OBJECT*>(std::calloc(1, sizeof(SP_OBJECT)));
  if (!object) return fail(nullptr, SP_ERR_MEMORY);
  if (!handle) {
    std::free(object);
    if (error) *error = SP_ERR_LIBRARY;
    return nullptr;
  }
  object->handle = handle;

  const auto* table =
      static_cast<const printer_funcs*>(GetPrinterHandleProcAddress(handle, "printer_funcs"));
  if (!table) {
    KLV_LOG(KLV_LOG_ERROR, "driver library has no printer_funcs table");
    return fail(object, SP_ERR_NO_TABLE);
  }
  // The size word counts 4 bytes a slot; copy whole slots, at most the table.
  const uintptr_t stated = table->size;
  const size_t full = KLV_PRINTER_FUNCS_SIZE;
  const size_t copied = stated < full ? static_cast<size_t>(stated) : full;
  const size_t slots = copied / 4;
  if (slots > 1) {
    std::memcpy(reinterpret_cast<char*>(&object->funcs) + sizeof(uintptr_t),
                reinterpret_cast<const char*>(table) + sizeof(uintptr_t),
                (slots - 1) * sizeof(void*));
  }
  object->funcs.size = copied;

  if (!object->funcs.open) {
    KLV_LOG(KLV_LOG_ERROR, "driver table (size %lu) has no open entry",
            static_cast<unsigned long>(stated));
    return fail(object, SP_ERR_NO_ENTRY);
  }
  int32_t driver_error = 0;
  object->instance =
      object->funcs.open(device ? device : "", &driver_error, printer ? printer : "");
  if (!object->instance) {
    if (!error || driver_error == 0) {
      if (error) *error = 0;
      object->status = SP_ERR_NO_INSTANCE;
      return object;
    }
    return fail(object, driver_error);
  }
  SP_CAPABILITIES* caps =
      object->funcs.get_capabilities ? object->funcs.get_capabilities(object->instance) : nullptr;
  if (!caps) {
    KLV_LOG(KLV_LOG_ERROR, "driver gave no capabilities record");
    return fail(object, SP_ERR_MEMORY);
  }
  object->capabilities = caps;
  if (caps->key == 0) {
    KLV_LOG(KLV_LOG_ERROR, "driver capabilities record is not valid (key word 0)");
    return fail(object, SP_ERR_CAPABILITIES);
  }
  if (error) *error = 0;
  return object;
}

std::string cut_at_bracket(const char* name) {
  std::string text = name ? name : "";
  return text.substr(0, text.find('('));
}

// Gives a printer info a default page size it can use: a page as big as the
// printable area when the printer has none, else the first usable page when
// its default is not in the list.
void repair_default_page(SP_OBJECT* object, PRNTINFO* info) {
  SSTRAL* pages = prntinfo_page_sizes(info, nullptr);
  if (!pages) return;
  if (stral_count(pages) == 0) {
    const double max_width = object->capabilities ? object->capabilities->max_width : 0.0;
    const double max_length = object->capabilities ? object->capabilities->max_length : 0.0;
    auto dimension = [](double inches) {
      char number[64];
      std::snprintf(number, sizeof number, "%.9f", inches);
      char text[96];
      std::snprintf(text, sizeof text, "%.9g %s", OatofEx(number, nullptr),
                    klv_message(KLV_MSG_UNIT_INCH));
      return std::string(text);
    };
    const std::string width = dimension(max_width);
    const std::string height = dimension(max_length);
    const char* path =
        klv_message(max_length <= 93.62204724 ? KLV_MSG_PAPER_SHEET : KLV_MSG_PAPER_ROLL);
    const char* element[] = {klv_message(KLV_MSG_PAGE_DEFAULT), width.c_str(), height.c_str(),
                             klv_message(KLV_MSG_PAGE_CLASS), path};
    stral_add(pages, element, 5);
    std::snprintf(info->default_page_size, sizeof info->default_page_size, "%s",
                  klv_message(KLV_MSG_PAGE_DEFAULT));
    return;
  }
  if (stral_find(pages, info->default_page_size, static_cast<const char*>(nullptr)) >= 0) return;
  if (const char* page = prntinfo_nearest_page_size(info, nullptr, 10000.0, 10000.0)) {
    std::string copy = page;  // the name lives inside the list
    std::snprintf(info->default_page_size, sizeof info->default_page_size, "%s", copy.c_str());
  }
}

void free_driver_info(SP_OBJECT* object, SP_INFO* info) {
  if (info && object->funcs.free_info && object->instance)
    object->funcs.free_info(object->instance, info);
}

}  // namespace

// ---------------------------------------------------------------------------
// Opening and closing

KLV_API SP_OBJECT* SP_open(const char* library, const char* device, int32_t* error,
                           const char* printer) {
  try {
    PrinterHandle* handle = library ? OpenPrinterHandle(library) : nullptr;
    const char* name = printer;
    if (name && std::strncmp(name, "***", 3) == 0) name += 3;
    return open_object(handle, device, error, name);
  } catch (...) {
    if (error) *error = SP_ERR_MEMORY;
    return nullptr;
  }
}

KLV_API SP_OBJECT* SP_open_printer(const char* printer, int32_t* error) {
  try {
    PrinterHandle* handle = printer ? FindPrinterHandle(printer) : nullptr;
    if (!handle) {
      if (error) *error = SP_ERR_LIBRARY;
      return nullptr;
    }
    const std::string device = GetPrinterHandleDeviceName(handle);
    if (device.empty()) {
      KLV_LOG(KLV_LOG_ERROR, "printer \"%s\" has no device name in its types element", printer);
      FreePrinterHandle(handle);
      if (error) *error = SP_ERR_NO_INSTANCE;
      return nullptr;
    }
    return open_object(handle, device.c_str(), error, printer);
  } catch (...) {
    if (error) *error = SP_ERR_MEMORY;
    return nullptr;
  }
}

KLV_API int32_t SP_close(SP_OBJECT* object) {
  if (!object) return 0;
  if (object->instance) {
    free_driver_info(object, object->info);
    if (object->capabilities && object->funcs.command)
      object->funcs.command(object->instance, SP_CMD_RELEASE_CAPS, object->capabilities, nullptr);
    if (object->funcs.close) object->funcs.close(object->instance);
  }
  object->info = nullptr;
  object->capabilities = nullptr;
  FreePrinterHandle(object->handle);
  std::free(object);
  return 0;
}

// ---------------------------------------------------------------------------
// Printer info

KLV_API SP_INFO* SP_load_info(SP_OBJECT* object, const char* folder) {
  if (!object) return nullptr;
  if (!object->funcs.load_info) {
    object->status = SP_ERR_NO_ENTRY;
    return nullptr;
  }
  if (!object->instance) {
    object->status = SP_ERR_NO_INSTANCE;
    return nullptr;
  }
  object->status = SP_STATUS_PENDING;
  SP_INFO* info = object->funcs.load_info(object->instance, folder);
  if (!info) {
    object->status = SP_ERR_NO_REPOSITORY;
    return nullptr;
  }
  if (!info->prntinfo) {
    object->status = SP_ERR_NO_PRNTINFO;
    return info;
  }
  try {
    repair_default_page(object, info->prntinfo);
  } catch (...) {
  }
  return info;
}

KLV_API SP_INFO* SP_find_info(SP_OBJECT* object, const char* printer) {
  if (!object) return nullptr;
  char folder[KLV_PATH_MAX] = "";
  const std::string name = cut_at_bracket(printer);
  if (!printer || !prntinfo_find_repository(name.c_str(), folder)) {
    object->status = SP_ERR_NO_REPOSITORY;
    return nullptr;
  }
  return SP_load_info(object, folder);
}

KLV_API int32_t SP_init_from_info(SP_OBJECT* object, SP_INFO* info, const char* options) {
  if (!object) return SP_ERR_ARGUMENT;
  const int32_t result =
      action(object, &printer_funcs::init_from_info, SP_ERR_NO_ENTRY, info, options ? options : "");
  if (result != 0) return result;
  if (!object->funcs.copy_info) {
    free_driver_info(object, object->info);
    object->info = nullptr;
    object->status = SP_ERR_NO_ENTRY;
    return result;
  }
  SP_INFO* copy = object->funcs.copy_info(object->instance, info);
  free_driver_info(object, object->info);
  object->info = copy;
  return result;
}

KLV_API int32_t SP_init_from_repository(SP_OBJECT* object, const char* folder,
                                        const char* options) {
  if (!object) return SP_ERR_ARGUMENT;
  SP_INFO* info = SP_load_info(object, folder);
  if (!info) {
    object->status = SP_ERR_NO_INFO;
    return SP_ERR_NO_INFO;
  }
  const int32_t result = SP_init_from_info(object, info, options);
  free_driver_info(object, info);
  return result;
}

KLV_API int32_t SP_init_printer(SP_OBJECT* object, const char* printer, const char* options) {
  if (!object) return SP_ERR_ARGUMENT;
  char folder[KLV_PATH_MAX] = "";
  try {
    const std::string name = cut_at_bracket(printer);
    if (!printer || !prntinfo_find_repository(name.c_str(), folder)) {
      object->status = SP_ERR_NO_REPOSITORY;
      return SP_ERR_NO_REPOSITORY;
    }
  } catch (...) {
    return SP_ERR_MEMORY;
  }
  return SP_init_from_repository(object, folder, options);
}

KLV_API SP_CAPABILITIES* SP_get_capabilities(SP_OBJECT* object) {
  if (!object || !object->funcs.get_capabilities) return nullptr;
  if (!object->instance) {
    object->status = SP_ERR_NO_INSTANCE;
    return nullptr;
  }
  SP_CAPABILITIES* caps = object->funcs.get_capabilities(object->instance);
  if (!object->capabilities && object->funcs.command)
    SP_command(object, SP_CMD_FILL_CAPS, &object->capabilities, caps);
  return caps;
}

// ---------------------------------------------------------------------------
// The print sequence

KLV_API int32_t SP_start_job(SP_OBJECT* object, const SP_JOB* job) {
  if (!object) return SP_ERR_ARGUMENT;
  if (!job) return object->status = SP_ERR_ARGUMENT;
  const int32_t result = action(object, &printer_funcs::start_job, SP_OK, const_cast<SP_JOB*>(job));
  if (result == 0) {
    std::memcpy(object->job, job, SP_JOB_SIZE);
    const uint32_t size = SP_JOB_SIZE;
    std::memcpy(object->job, &size, 4);
  }
  return result;
}

KLV_API int32_t SP_start_print(SP_OBJECT* object, const SP_PRINT* print, char* text) {
  if (!object) return SP_ERR_ARGUMENT;
  if (!print) return object->status = SP_ERR_ARGUMENT;
  char buffer[SP_PRINT_TEXT_SIZE] = {};
  const int32_t result = action(object, &printer_funcs::start_print, SP_ERR_NO_ENTRY,
                                const_cast<SP_PRINT*>(print), buffer);
  if (result == 0) {
    std::memcpy(object->print, print, SP_PRINT_SIZE);
    const uint32_t size = SP_PRINT_SIZE;
    std::memcpy(object->print, &size, 4);
    buffer[SP_PRINT_TEXT_SIZE - 1] = 0;
    std::memcpy(object->print_text, buffer, SP_PRINT_TEXT_SIZE);
    if (text) std::memcpy(text, buffer, SP_PRINT_TEXT_SIZE);
  }
  return result;
}

KLV_API int32_t SP_start_print_ex(SP_OBJECT* object, const SP_PRINT* print, uint8_t* result_out) {
  if (!object) return SP_ERR_ARGUMENT;
  if (!print) return object->status = SP_ERR_ARGUMENT;
  uint8_t block[SP_PRINT_RESULT_SIZE] = {};
  const int32_t result = action(object, &printer_funcs::start_print_ex, SP_ERR_NO_ENTRY,
                                const_cast<SP_PRINT*>(print), block);
  if (result == 0) {
    std::memcpy(object->print, print, SP_PRINT_SIZE);
    const uint32_t size = SP_PRINT_SIZE;
    std::memcpy(object->print, &size, 4);
    std::memcpy(object->print_result, block, SP_PRINT_RESULT_SIZE);
    if (result_out) std::memcpy(result_out, block, SP_PRINT_RESULT_SIZE);
  }
  return result;
}

KLV_API int32_t SP_start_pass(SP_OBJECT* object, const SP_PASS* pass) {
  if (!object) return SP_ERR_ARGUMENT;
  if (!pass) return object->status = SP_ERR_ARGUMENT;
  const int32_t result =
      action(object, &printer_funcs::start_pass, SP_OK, const_cast<SP_PASS*>(pass));
  if (result == 0) {
    std::memcpy(object->pass, pass, SP_PASS_SIZE);
    object->pass[0] = SP_PASS_SIZE;
  }
  return result;
}

KLV_API int32_t SP_print_scanline_data(SP_OBJECT* object, const uint8_t* data, int32_t count) {
  if (!object) return SP_ERR_ARGUMENT;
  if (!data && count > 0) return object->status = SP_ERR_ARGUMENT;
  return action(object, &printer_funcs::print_scanline_data, SP_ERR_NO_ENTRY, data, count);
}

KLV_API int32_t SP_skip_lines(SP_OBJECT* object, int32_t lines) {
  if (!object) return SP_ERR_ARGUMENT;
  if (!object->capabilities || !(object->capabilities->flags & SP_CAP_SKIP_LINES))
    return object->status = SP_ERR_NO_SKIP;
  return action(object, &printer_funcs::skip_lines, SP_ERR_NO_SKIP, lines);
}

KLV_API int32_t SP_end_pass(SP_OBJECT* object) {
  return action(object, &printer_funcs::end_pass, SP_OK);
}
KLV_API int32_t SP_end_print(SP_OBJECT* object) {
  return action(object, &printer_funcs::end_print, SP_OK);
}
KLV_API int32_t SP_end_job(SP_OBJECT* object) {
  return action(object, &printer_funcs::end_job, SP_OK);
}

KLV_API int32_t SP_cancel_job(SP_OBJECT* object) {
  if (object && !object->funcs.cancel_job) return action(object, &printer_funcs::end_job, SP_OK);
  return action(object, &printer_funcs::cancel_job, SP_OK);
}

KLV_API int32_t SP_start_cut(SP_OBJECT* object, void* data) {
  return action(object, &printer_funcs::start_cut, SP_OK, data);
}
KLV_API int32_t SP_send_cut(SP_OBJECT* object, void* data) {
  return action(object, &printer_funcs::send_cut, SP_OK, data);
}
KLV_API int32_t SP_send_cut_layer(SP_OBJECT* object, void* data) {
  return action(object, &printer_funcs::send_cut_layer, SP_OK, data);
}
KLV_API int32_t SP_end_cut(SP_OBJECT* object) {
  return action(object, &printer_funcs::end_cut, SP_OK);
}

// ---------------------------------------------------------------------------
// Status and numbered information

KLV_API int32_t SP_get_status(SP_OBJECT* object, void* request) {
  if (!object) return SP_ERR_ARGUMENT;
  if (!request && object->status != SP_STATUS_PENDING) return object->status;
  return action(object, &printer_funcs::get_status, SP_OK, request);
}

KLV_API int32_t SP_get_info_str(SP_OBJECT* object, char* text, int32_t size, int32_t item) {
  if (text && size > 0) text[0] = 0;
  if (!object) return SP_ERR_ARGUMENT;
  return action(object, &printer_funcs::get_info_str, SP_OK, text, size, item);
}

KLV_API int32_t SP_default_info_num(int32_t item) {
  switch (item) {
    case 0:
      return 4;
    case 4:
    case 5:
    case 17:
    case 20:
    case 21:
      return 1;
    default:
      return 0;
  }
}

namespace {

int32_t info_num(SP_OBJECT* object, int32_t* value, const void* a, const void* b, const void* c,
                 const void* d, int32_t item, bool ex_first) {
  int32_t scratch = 0;
  int32_t* out = value ? value : &scratch;
  *out = SP_default_info_num(item);
  if (!object) return SP_ERR_ARGUMENT;
  if (!object->instance) return object->status = SP_ERR_NO_INSTANCE;
  auto plain = object->funcs.get_info_num;
  auto ex = object->funcs.get_info_num_ex;
  int32_t result = SP_OK;
  object->status = SP_STATUS_PENDING;
  if (ex_first && ex) {
    result = ex(object->instance, out, a, b, c, d, item);
  } else if (plain) {
    result = plain(object->instance, out, a, b, c, item);
  } else if (ex) {
    result = ex(object->instance, out, a, b, c, nullptr, item);
  }
  return object->status = result;
}

}  // namespace

KLV_API int32_t SP_get_info_num(SP_OBJECT* object, int32_t* value, const void* a, const void* b,
                                const void* c, int32_t item) {
  return info_num(object, value, a, b, c, nullptr, item, false);
}

KLV_API int32_t SP_get_info_num_ex(SP_OBJECT* object, int32_t* value, const void* a, const void* b,
                                   const void* c, const void* d, int32_t item) {
  return info_num(object, value, a, b, c, d, item, true);
}
