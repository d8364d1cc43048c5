#pragma once

#include <gtest/gtest.h>

#include "support/output_kinds.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"

// Why a test of what the private server's sink hears did not run.
inline constexpr const char* kNoPrivateServer =
    "PULSE_SERVER is not set: run through scripts/test.sh, or source scripts/private_pulse.sh "
    "and start_private_pulse first";

// A test of sound as the private server's null sink hears it, on each output: skipped where no
// private server runs, with a folder of its own for its files.
class HeardOnEachOutput : public ::testing::TestWithParam<OutputKind> {
protected:
    void SetUp() override {
        if (!SinkRecorder::available()) GTEST_SKIP() << kNoPrivateServer;
    }
    TempDir dir;
};
