#pragma once

// The configurator's jobs as the window and the command-line tool share them:
// read and write a device, open and save settings files. Plain C++: the
// window adds the cursor, the status bar and the message boxes.

#include "model/model.h"

#include <filesystem>
#include <vector>

// Makes CreateConfigModel know both storage formats.
void RegisterConfigModels();

// Hands each block image to the model in block order, checking its size
// first ("error: %d bytes read, %d expected").
void DecodeBlocks(IConfigModel &model, const std::vector<Bytes> &images);

// Every block image of the model. All are encoded before any is used, so a
// bad value stops everything before a byte goes to a device.
std::vector<Bytes> EncodeBlocks(IConfigModel &model);
