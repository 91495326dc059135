// The three nuclei Velmora simulates and their constants.
#pragma once

#include <optional>

namespace velmora::model {

enum class Nucleus { H1, C13, N15 };

// Relative gyromagnetic ratio, scaled so that 1H = 1e7. It is also the equilibrium z coefficient
// of a spin and the scale of every recorded magnetisation.
inline constexpr double kProtonConstant = 10000000.0;
inline constexpr double kCarbonConstant = 2515074.0;
inline constexpr double kNitrogenConstant = -1013984.0;

inline double nucleusConstant(Nucleus n)
{
    switch (n) {
    case Nucleus::C13:
        return kCarbonConstant;
    case Nucleus::N15:
        return kNitrogenConstant;
    case Nucleus::H1:
        break;
    }
    return kProtonConstant;
}

// RF channel that addresses the nucleus: 0 = 1H, 1 = 13C, 2 = 15N.
inline int nucleusChannel(Nucleus n)
{
    return n == Nucleus::H1 ? 0 : n == Nucleus::C13 ? 1 : 2;
}

inline char nucleusLetter(Nucleus n)
{
    return n == Nucleus::H1 ? 'H' : n == Nucleus::C13 ? 'C' : 'N';
}

// The nucleus named by the first letter of a spin label ("H0", "C2"); none for anything else.
inline std::optional<Nucleus> nucleusFromLetter(char letter)
{
    switch (letter) {
    case 'H':
    case 'h':
        return Nucleus::H1;
    case 'C':
    case 'c':
        return Nucleus::C13;
    case 'N':
    case 'n':
        return Nucleus::N15;
    default:
        return std::nullopt;
    }
}

}  // namespace velmora::model
