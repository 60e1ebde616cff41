// Everything a host needs from the image codec library: the exports, the
// codec base class and the codec classes, and the support-layer hooks
// (messages, progress, key queue, memory settings).
#pragma once

#include "platform/CFile.h"
#include "platform/CFileException.h"
#include "platform/KeyQueue.h"
#include "platform/MessageSink.h"
#include "rastik/CBmpIO.h"
#include "rastik/CDCTFilter.h"
#include "rastik/CGTempFile.h"
#include "rastik/CGifIO.h"
#include "rastik/CJpgIO.h"
#include "rastik/CPicIO.h"
#include "rastik/CPngIO.h"
#include "rastik/CRastik.h"
#include "rastik/CTiffIO.h"
#include "rastik/ClipPath.h"
#include "rastik/CWandBIO.h"
#include "rastik/Convert.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
