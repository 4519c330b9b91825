// A test fixture with frmMain's window on a hidden host, made for each test
// and destroyed after it.
#pragma once

#include <gtest/gtest.h>

#include "win/support/win_support.h"
#include "win32/frm_main.h"

namespace tallowin::wintest {

class FormTest : public ::testing::Test {
 protected:
  HWND top = nullptr;
  win32::FrmMain* form = nullptr;
  void SetUp() override {
    top = CreateHiddenHost();
    ASSERT_NE(top, nullptr);
    form = win32::FrmMain::Create(top, 0, 0);
    ASSERT_NE(form, nullptr);
  }
  void TearDown() override {
    if (top) ::DestroyWindow(top);
  }
};

}  // namespace tallowin::wintest
