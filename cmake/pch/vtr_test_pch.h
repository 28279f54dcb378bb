// What the test programs share, compiled once for all of them: the test
// framework and the library headers of cmake/pch/vtr_pch.h.
#pragma once

#include "vtr_pch.h"

#include <thread>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
