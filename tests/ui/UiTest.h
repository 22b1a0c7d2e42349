#pragma once
// What every window test file starts from: the helpers, the widgets the tests look into, Qt Test,
// and the names they all use unqualified. Only the test programs' files include this.
#include "ui/UiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace cleavix;
using cleavix::uitest::ModalScript;
using cleavix::uitest::Sandbox;
using cleavix::uitest::Window;
