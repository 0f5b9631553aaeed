// The settings of the radio (Hamlib: a model on a serial port, or a
// rigctld over the network) and of WSJT-X's UDP messages.
#pragma once

#include "rig/RigControl.h"
#include "rig/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QRadioButton>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QStandardItemModel>

namespace qardel {

class TfRigSettings : public QDialog {
    Q_OBJECT
  public:
    TfRigSettings(const rig::RigSettings& radio, const rig::WsjtxSettings& wsjtx,
                  QWidget* parent = nullptr);

    rig::RigSettings radioSettings() const;
    rig::WsjtxSettings wsjtxSettings() const;
    // What keeps the settings from being taken; empty when they can be.
    QString problem() const;

    QCheckBox* cbRigEnabled;
    QRadioButton* rbRigDirect;
    QRadioButton* rbRigctld;
    QLineEdit* edRigSearch;
    QListView* lvRigModels;
    QComboBox* cbRigDevice;
    QComboBox* cbRigSpeed;
    QLineEdit* edRigAddress;
    QCheckBox* cbWsjtxEnabled;
    QLineEdit* edWsjtxAddress;
    QSpinBox* edWsjtxPort;
    QLabel* lbProblem;
    QDialogButtonBox* buttons;

    // Selects a model in the list (clearing the search when it hides it).
    void selectModel(int model);
    int selectedModel() const;

  private:
    void updateEnabled();
    void accept() override;

    QStandardItemModel* m_models;
    QSortFilterProxyModel* m_filter;
};

} // namespace qardel
