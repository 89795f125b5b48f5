/* SPDX-License-Identifier: MIT */
/* A tiny plug-in for the dynamic library tests. */
__attribute__((visibility("default"))) int fixture_answer(void) {
  return 42;
}
__attribute__((visibility("default"))) const char fixture_name[] = "fixture";
