// SPDX-License-Identifier: MIT
// The SP_* calls that forward to one driver entry: settings, mode sets, printer
// info and media objects, ports, optional colour calls and SP_command.
#include <cstring>

#include "klv/printer_driver.h"
#include "printer/driver_calls.h"

using klv::printer::sp::action;
using klv::printer::sp::value;

namespace {

// A volume given without a path means the member ".\Printer.Settings".
const char* settings_path(SOVolume* volume, const char* path) {
  if (!path && volume && volume != SP_NO_VOLUME) return ".\\Printer.Settings";
  return path;
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings

KLV_API void* SP_default_settings(SP_OBJECT* object) {
  if (object && !object->funcs.default_settings)
    return value<void*>(object, &printer_funcs::new_settings);
  return value<void*>(object, &printer_funcs::default_settings);
}
KLV_API void* SP_new_settings(SP_OBJECT* object) {
  return value<void*>(object, &printer_funcs::new_settings);
}
KLV_API void* SP_copy_settings(SP_OBJECT* object, const void* settings) {
  return value<void*>(object, &printer_funcs::copy_settings, settings);
}
KLV_API void* SP_load_settings(SP_OBJECT* object, SOVolume* volume, const char* path) {
  return value<void*>(object, &printer_funcs::load_settings, volume, settings_path(volume, path));
}
KLV_API int32_t SP_save_settings(SP_OBJECT* object, const void* settings, SOVolume* volume,
                                 const char* path, int32_t flags) {
  return action(object, &printer_funcs::save_settings, SP_OK, settings, volume,
                settings_path(volume, path), flags);
}
KLV_API int32_t SP_free_settings(SP_OBJECT* object, void* settings) {
  return value<int32_t>(object, &printer_funcs::free_settings, settings);
}
KLV_API int32_t SP_edit_settings(SP_OBJECT* object, void* settings) {
  return action(object, &printer_funcs::edit_settings, 1, settings);
}
KLV_API int32_t SP_edit_settings_ex(SP_OBJECT* object, void* settings, void* parent) {
  if (object && !object->funcs.edit_settings_ex) return SP_edit_settings(object, settings);
  return action(object, &printer_funcs::edit_settings_ex, 1, settings, parent);
}
KLV_API int32_t SP_compare_settings(SP_OBJECT* object, const void* a, const void* b) {
  return action(object, &printer_funcs::compare_settings, SP_OK, a, b);
}

// ---------------------------------------------------------------------------
// Mode sets

KLV_API void* SP_get_modeset(SP_OBJECT* object, const char* name) {
  return value<void*>(object, &printer_funcs::get_modeset, name);
}
KLV_API int32_t SP_set_modeset(SP_OBJECT* object, const char* name, const void* modeset) {
  return action(object, &printer_funcs::set_modeset, SP_OK, name, modeset);
}
KLV_API void* SP_new_modeset(SP_OBJECT* object) {
  return value<void*>(object, &printer_funcs::new_modeset);
}
KLV_API void* SP_copy_modeset(SP_OBJECT* object, const void* modeset) {
  return value<void*>(object, &printer_funcs::copy_modeset, modeset);
}
KLV_API void* SP_load_modeset(SP_OBJECT* object, SOVolume* volume, const char* path) {
  return value<void*>(object, &printer_funcs::load_modeset, volume, settings_path(volume, path));
}
KLV_API int32_t SP_save_modeset(SP_OBJECT* object, const void* modeset, SOVolume* volume,
                                const char* path, int32_t flags) {
  return action(object, &printer_funcs::save_modeset, SP_OK, modeset, volume,
                settings_path(volume, path), flags);
}
KLV_API int32_t SP_free_modeset(SP_OBJECT* object, void* modeset) {
  return value<int32_t>(object, &printer_funcs::free_modeset, modeset);
}
KLV_API int32_t SP_edit_modeset(SP_OBJECT* object, void* modeset) {
  return action(object, &printer_funcs::edit_modeset, 1, modeset);
}
KLV_API int32_t SP_compare_modesets(SP_OBJECT* object, const void* a, const void* b) {
  return action(object, &printer_funcs::compare_modesets, SP_OK, a, b);
}

// ---------------------------------------------------------------------------
// Printer info objects

KLV_API SP_INFO* SP_new_info(SP_OBJECT* object) {
  return value<SP_INFO*>(object, &printer_funcs::new_info);
}
KLV_API SP_INFO* SP_copy_info(SP_OBJECT* object, const SP_INFO* info) {
  return value<SP_INFO*>(object, &printer_funcs::copy_info, info);
}
KLV_API int32_t SP_save_info(SP_OBJECT* object, const SP_INFO* info, const char* folder) {
  return action(object, &printer_funcs::save_info, SP_OK, info, folder);
}
KLV_API int32_t SP_free_info(SP_OBJECT* object, SP_INFO* info) {
  return value<int32_t>(object, &printer_funcs::free_info, info);
}
KLV_API int32_t SP_update_info(SP_OBJECT* object, SP_INFO* info) {
  return action(object, &printer_funcs::update_info, SP_ERR_NO_ENTRY, info);
}
KLV_API int32_t SP_edit_info(SP_OBJECT* object, SP_INFO* info) {
  return action(object, &printer_funcs::edit_info, 1, info);
}
KLV_API int32_t SP_add_media(SP_OBJECT* object, SP_INFO* info, const char* media) {
  return action(object, &printer_funcs::add_media, SP_OK, info, media);
}

// Extended info records travel through SP_command.
KLV_API void* SP_load_infoex(SP_OBJECT* object, const char* folder) {
  void* infoex = nullptr;
  const int32_t result = SP_command(object, SP_CMD_LOAD_INFOEX, const_cast<char*>(folder), &infoex);
  if (object && result == 0) object->status = SP_STATUS_PENDING;
  return infoex;
}
KLV_API int32_t SP_free_infoex(SP_OBJECT* object, void* infoex) {
  return SP_command(object, SP_CMD_FREE_INFOEX, infoex, nullptr);
}
KLV_API int32_t SP_save_infoex(SP_OBJECT* object, void* infoex, const char* folder) {
  return SP_command(object, SP_CMD_SAVE_INFOEX, infoex, const_cast<char*>(folder));
}
KLV_API int32_t SP_insert_mediaex(SP_OBJECT* object, void* infoex, void* media) {
  return SP_command(object, SP_CMD_INSERT_MEDIAEX, infoex, media);
}
KLV_API void* SP_get_mediaex(SP_OBJECT* object, void* infoex, const char* media) {
  SP_MEDIAEX_QUERY query{media, nullptr};
  const int32_t result = SP_command(object, SP_CMD_GET_MEDIAEX, infoex, &query);
  if (object && result == 0) object->status = SP_STATUS_PENDING;
  return query.result;
}

// ---------------------------------------------------------------------------
// Media

KLV_API void* SP_new_media(SP_OBJECT* object) {
  return value<void*>(object, &printer_funcs::new_media);
}
KLV_API void* SP_get_media(SP_OBJECT* object, const char* name) {
  return value<void*>(object, &printer_funcs::get_media, name);
}
KLV_API void* SP_copy_media(SP_OBJECT* object, const void* media) {
  return value<void*>(object, &printer_funcs::copy_media, media);
}
KLV_API void* SP_load_media(SP_OBJECT* object, SOVolume* volume, const char* path) {
  return value<void*>(object, &printer_funcs::load_media, volume, path);
}
KLV_API int32_t SP_save_media(SP_OBJECT* object, const void* media, SOVolume* volume,
                              const char* path) {
  return action(object, &printer_funcs::save_media, SP_OK, media, volume, path);
}
KLV_API int32_t SP_free_media(SP_OBJECT* object, void* media) {
  return value<int32_t>(object, &printer_funcs::free_media, media);
}
KLV_API int32_t SP_edit_media(SP_OBJECT* object, void* media) {
  return action(object, &printer_funcs::edit_media, 1, media);
}
KLV_API int32_t SP_auto_media(SP_OBJECT* object, void* media) {
  return action(object, &printer_funcs::auto_media, 1, media);
}
KLV_API int32_t SP_auto_mode(SP_OBJECT* object, void* media) {
  return action(object, &printer_funcs::auto_mode, 1, media);
}
KLV_API int32_t SP_update_media(SP_OBJECT* object, void* media) {
  return action(object, &printer_funcs::update_media, SP_OK, media);
}
KLV_API int32_t SP_delete_media(SP_OBJECT* object, const char* name) {
  return action(object, &printer_funcs::delete_media, SP_OK, name);
}
KLV_API int32_t SP_get_media_abilities(SP_OBJECT* object, const char* media, void* out) {
  if (object && !object->funcs.get_media_abilities) {
    // Without the entry, the capabilities record answers.
    SP_CAPABILITIES* caps = value<SP_CAPABILITIES*>(object, &printer_funcs::get_capabilities);
    if (!caps) return object->status;
    if (out) std::memcpy(out, caps, sizeof(SP_CAPABILITIES));
    return object->status = SP_OK;
  }
  return action(object, &printer_funcs::get_media_abilities, SP_OK, media, out);
}
KLV_API int32_t SP_edit_feature(SP_OBJECT* object, int32_t feature, void* data) {
  return action(object, &printer_funcs::edit_feature, 1, feature, data);
}

// ---------------------------------------------------------------------------
// Ports

KLV_API int32_t SP_get_port_name(SP_OBJECT* object, char* out, int32_t size) {
  if (out && size > 0) out[0] = 0;
  return action(object, &printer_funcs::get_port_name, SP_OK, out, size);
}
KLV_API int32_t SP_set_port_name(SP_OBJECT* object, const char* port) {
  return action(object, &printer_funcs::set_port_name, SP_OK, port);
}
KLV_API int32_t SP_get_port_data(SP_OBJECT* object, void* out, int32_t size) {
  return action(object, &printer_funcs::get_port_data, SP_OK, out, size);
}
KLV_API int32_t SP_set_port_data(SP_OBJECT* object, const void* data, int32_t size) {
  return action(object, &printer_funcs::set_port_data, SP_OK, data, size);
}
KLV_API int32_t SP_get_port_info(SP_OBJECT* object, void* out) {
  return action(object, &printer_funcs::get_port_info, SP_OK, out);
}
KLV_API int32_t SP_set_port_info(SP_OBJECT* object, const void* data) {
  return action(object, &printer_funcs::set_port_info, SP_OK, data);
}
KLV_API int32_t SP_config_port(SP_OBJECT* object, void* parent) {
  return action(object, &printer_funcs::config_port, SP_OK, parent);
}

// ---------------------------------------------------------------------------
// Optional colour calls

KLV_API int32_t SP_get_media_color_info(SP_OBJECT* object, const char* media, SP_COLOR_INFO* out) {
  return action(object, &printer_funcs::get_media_color_info, SP_ERR_OPTIONAL, media, out);
}
KLV_API int32_t SP_set_media_color_info(SP_OBJECT* object, const char* media,
                                        const SP_COLOR_INFO* info) {
  return action(object, &printer_funcs::set_media_color_info, SP_ERR_OPTIONAL, media, info);
}
KLV_API int32_t SP_get_media_thresholds(SP_OBJECT* object, const char* media, void* out) {
  return action(object, &printer_funcs::get_media_thresholds, SP_ERR_OPTIONAL, media, out);
}
KLV_API int32_t SP_set_media_thresholds(SP_OBJECT* object, const char* media, const void* data) {
  return action(object, &printer_funcs::set_media_thresholds, SP_ERR_OPTIONAL, media, data);
}
KLV_API int32_t SP_get_media_flats(SP_OBJECT* object, const char* media, void* out) {
  return action(object, &printer_funcs::get_media_flats, SP_ERR_OPTIONAL, media, out);
}
KLV_API int32_t SP_set_media_flats(SP_OBJECT* object, const char* media, const void* data) {
  return action(object, &printer_funcs::set_media_flats, SP_ERR_OPTIONAL, media, data);
}
KLV_API int32_t SP_get_inkcfg_names(SP_OBJECT* object, SSTRAL** out) {
  if (out) *out = nullptr;
  return action(object, &printer_funcs::get_inkcfg_names, SP_OK, out);
}
KLV_API int32_t SP_get_inkcfg_setup(SP_OBJECT* object, const char* name, void* out) {
  return action(object, &printer_funcs::get_inkcfg_setup, SP_ERR_OPTIONAL, name, out);
}
KLV_API int32_t SP_get_ink_restrict(SP_OBJECT* object, const char* media, void* out) {
  return action(object, &printer_funcs::get_ink_restrict, SP_OK, media, out);
}
KLV_API int32_t SP_get_mlproc_info(SP_OBJECT* object, const char* media, const char* mode,
                                   MLPROCINFO* out) {
  return action(object, &printer_funcs::get_mlproc_info, SP_OK, media, mode, out);
}

// ---------------------------------------------------------------------------
// Other

KLV_API int32_t SP_groupable_jobs(SP_OBJECT* object, const void* a, const void* b) {
  return action(object, &printer_funcs::groupable_jobs, SP_OK, a, b);
}
KLV_API int32_t SP_start_bidir(SP_OBJECT* object) {
  return action(object, &printer_funcs::start_bidir, SP_OK);
}
KLV_API int32_t SP_end_bidir(SP_OBJECT* object) {
  return action(object, &printer_funcs::end_bidir, SP_OK);
}
KLV_API int32_t SP_handle_request(SP_OBJECT* object, void* request) {
  return action(object, &printer_funcs::handle_request, SP_OK, request);
}
KLV_API int32_t SP_start_display(SP_OBJECT* object) {
  return action(object, &printer_funcs::start_display, SP_OK);
}
KLV_API int32_t SP_end_display(SP_OBJECT* object) {
  return action(object, &printer_funcs::end_display, SP_OK);
}
KLV_API void* SP_get_display_hwnd(SP_OBJECT* object) {
  return value<void*>(object, &printer_funcs::get_display_hwnd);
}
KLV_API int32_t SP_set_msg_callback(SP_OBJECT* object, SP_MSG_CALLBACK callback, void* context) {
  return action(object, &printer_funcs::set_msg_callback, SP_ERR_OPTIONAL, callback, context);
}
KLV_API int32_t SP_show_help(SP_OBJECT* object, int32_t topic) {
  return action(object, &printer_funcs::show_help, SP_ERR_OPTIONAL, topic);
}
KLV_API int32_t SP_command(SP_OBJECT* object, int32_t code, void* a, void* b) {
  return action(object, &printer_funcs::command, SP_ERR_OPTIONAL, code, a, b);
}
