#include "StatusText.h"

const CHAR8 *const WarningStatusText[WARNING_STATUS_COUNT] = {
    "Success",                 //  0
    "Warning Unknown Glyph",   //  1
    "Warning Delete Failure",  //  2
    "Warning Write Failure",   //  3
    "Warning Buffer Too Small",//  4
    "Warning Stale Data",      //  5
};

const CHAR8 *const ErrorStatusText[ERROR_STATUS_COUNT] = {
    "Load Error",            //  1
    "Invalid Parameter",     //  2
    "Unsupported",           //  3
    "Bad Buffer Size",       //  4
    "Buffer Too Small",      //  5
    "Not Ready",             //  6
    "Device Error",          //  7
    "Write Protected",       //  8
    "Out of Resources",      //  9
    "Volume Corrupt",        // 10
    "Volume Full",           // 11
    "No Media",              // 12
    "Media changed",         // 13
    "Not Found",             // 14
    "Access Denied",         // 15
    "No Response",           // 16
    "No mapping",            // 17
    "Time out",              // 18
    "Not started",           // 19
    "Already started",       // 20
    "Aborted",               // 21
    "ICMP Error",            // 22
    "TFTP Error",            // 23
    "Protocol Error",        // 24
    "Incompatible Version",  // 25
    "Security Violation",    // 26
    "CRC Error",             // 27
    "End of Media",          // 28
    "Reserved (29)",         // 29
    "Reserved (30)",         // 30
    "End of File",           // 31
    "Invalid Language",      // 32
    "Compromised Data",      // 33
};
