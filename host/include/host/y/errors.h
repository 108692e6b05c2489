// SPDX-License-Identifier: MIT
/// @file
/// Host error codes. Every host call answers 0 for success or one of these; the engine
/// throws the code unchanged. Each library owns a range so a code names its origin.
#pragma once

#include <cstdint>

enum : int32_t {
  Y_Err_None = 0,

  // Utility (Y_): what Y_TranslateAndReportException answers.
  Y_Err_Generic = 1000,      ///< a std::exception of no more specific kind
  Y_Err_OutOfMemory = 1001,  ///< std::bad_alloc
  Y_Err_Length = 1002,       ///< std::length_error
  Y_Err_Range = 1003,        ///< std::out_of_range
  Y_Err_InvalidArg = 1004,   ///< std::invalid_argument

  // Math (V_).
  V_Err_DivideByZero = 1100,  ///< Vp_ReportErr: a division guard failed
  V_Err_Singular = 1101,      ///< V_Matrix3::Invert on a singular matrix

  // Lists (SEQ_).
  SEQ_Err_BadHandle = 1200,
  SEQ_Err_BadIndex = 1201,

  // Bezier (CRV_).
  CRV_Err_BadCurve = 1300,       ///< a curve record of unknown kind or with null points
  CRV_Err_BadResolution = 1301,  ///< an arc-length resolution below 1

  // Shapes (WS_).
  WS_Err_BadIndex = 1400,
  WS_Err_BadArgument = 1401,

  // Chunk files (DKF_): host/dkf/dkf.h says what each means.
  DKF_Err_Io = 1500,
  DKF_Err_Truncated = 1501,
  DKF_Err_ChunkTooLarge = 1502,
  DKF_Err_Overflow = 1503,
  DKF_Err_TooDeep = 1504,
  DKF_Err_NotFound = 1505,
  DKF_Err_BadState = 1506,
  DKF_Err_BadFormat = 1507,
  DKF_Err_PastChunkEnd = 1508,
  DKF_Err_BadArgument = 1509,
  DKF_Err_ReadOnly = 1510,
  DKF_Err_WrongKind = 1511,

  // Pixels (GX_).
  GX_Err_BadArgument = 1600,
  GX_Err_BadDepth = 1601,
  GX_Err_OutOfRange = 1602,
  GX_Err_Cancelled = 1603,
  GX_Err_BadMode = 1604,  ///< a transfer or accumulation mode outside its table

  // Image files (host/gx/gx_image.h); GX_ImageLastMessage() says what and where.
  GX_Err_ImageOpen = 1650,         ///< the file cannot be opened, created or read
  GX_Err_ImageFormat = 1651,       ///< no supported format, or a corrupt or unsupported file
  GX_Err_ImageWrite = 1652,        ///< writing the file failed part way
  GX_Err_ImageTooLarge = 1653,     ///< an image's header exceeds the reader's size limits
  GX_Err_ImageUnsupported = 1654,  ///< a format or sample type that cannot be written

  // Drawing (kelvo::inkwork): carried by inkwork::Error.
  INK_Err_BadArgument = 1700,  ///< a size, width, radius, mode or matrix out of range
  INK_Err_BadState = 1701,     ///< a restore with no saved state
  INK_Err_Io = 1702,           ///< a PNG file could not be read or written
  INK_Err_Backend = 1703,      ///< the drawing backend failed (out of memory inside it)
};
