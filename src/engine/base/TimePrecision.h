#pragma once

// How exactly a listing dates its entries. MLSD and MDTM give UTC seconds;
// LIST gives the server's local time without its zone, to the minute for
// recent files and to the day for older ones.
enum class TimePrecision { Exact, Minutes, Days, Unknown };

// The precision of a listed time, from a protocol library's own enum with the
// same three names; a time the listing did not give (negative) is Unknown.
template <typename ListedPrecision>
TimePrecision PrecisionOfListing(long long modified, ListedPrecision listed)
{
    if (modified < 0)
        return TimePrecision::Unknown;
    switch (listed) {
    case ListedPrecision::Exact: return TimePrecision::Exact;
    case ListedPrecision::Minutes: return TimePrecision::Minutes;
    case ListedPrecision::Days: return TimePrecision::Days;
    }
    return TimePrecision::Unknown;
}
