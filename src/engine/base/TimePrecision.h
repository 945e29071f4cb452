#pragma once

// How exactly a listing dates its entries. MLSD and MDTM give UTC seconds;
// LIST gives the server's local time without its zone, to the minute for
// recent files and to the day for older ones.
enum class TimePrecision { Exact, Minutes, Days, Unknown };
