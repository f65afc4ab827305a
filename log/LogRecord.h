#pragma once
// The 13-line measurement record appended to Table.txt, as a pure function of the snapshot
// and the time.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>

namespace md::log {

// The main window's measurement snapshot: three groups of seven doubles (phase A, B, C),
// thirteen further doubles, and the four energy unit texts. Nothing in the tool assigns them,
// so every record repeats these start values.
struct MeasurementSnapshot {
    double m_dPhaseVoltA = 0, m_dLineVoltCA = 0, m_dCurrentA = 0, m_dActivePowerA = 0,
           m_dPowerFactorA = 0, m_dReactivePowerA = 0, m_dApparentPowerA = 0;
    double m_dPhaseVoltB = 0, m_dLineVoltAB = 0, m_dCurrentB = 0, m_dActivePowerB = 0,
           m_dPowerFactorB = 0, m_dReactivePowerB = 0, m_dApparentPowerB = 0;
    double m_dPhaseVoltC = 0, m_dLineVoltBC = 0, m_dCurrentC = 0, m_dActivePowerC = 0,
           m_dPowerFactorC = 0, m_dReactivePowerC = 0, m_dApparentPowerC = 0;
    double m_dZeroSeqCurrent = 0, m_dPhaseVoltTotal = 0, m_dCurrentTotal = 0, m_dFrequency = 0,
           m_dActivePowerTotal = 0, m_dPowerFactorTotal = 0, m_dReactivePowerTotal = 0,
           m_dApparentPowerTotal = 0, m_dFwdActiveEnergy = 0, m_dRevActiveEnergy = 0,
           m_dFwdReactiveEnergy = 0, m_dRevReactiveEnergy = 0, m_dLineVoltTotal = 0;
    std::array<QString, 4> m_strEnergyUnit;
};

} // namespace md::log
