// The port settings dialog. The list shows the data of every value of Printers\Ports,
// in the order they were added; "Select Port" makes an entry the driver's "Port".
#include "port_settings_dialog.h"

#include <vector>

#include "control_texts.h"
#include "wce/text.h"

using namespace wce;
using namespace wce::ui;

namespace {

enum : int {
    kList = 1014,
    kRemove = 1015,
    kSelect = 1016,
    kDefaultPort = 1017,
    kAdd = 1020,
    kName = 1021,
    kAddGroup = 1026,
    kInfoGroup = 1027,
    kListLabel = 1028,
    kDefaultLabel = 1029,
    kNameLabel = 1034,
};

constexpr const char16_t* kPortsKey = u"Printers\\Ports";
constexpr int kPortNameChars = 127;
constexpr DWORD kValueNameChars = 1024;
// Adding and selecting read the key as well as write it.
constexpr REGSAM kWriteAndRead = KEY_WRITE | KEY_QUERY_VALUE;

const DialogTemplate kPortTemplate{
    131,
    136,
    158,
    u"Port Settings",
    WS_POPUP | WS_CAPTION | DS_MODALFRAME,
    0,
    u"System",
    8,
    {
        rc::GroupBox(kAddGroup, u"Add Port", 7, 6, 125, 39),
        rc::LText(kNameLabel, u"Port Name : ", 14, 16, 40, 9),
        rc::EditText(kName, 13, 27, 62, 12, ES_AUTOHSCROLL),
        rc::PushButton(kAdd, u"Add Port", 75, 18, 54, 22),
        rc::GroupBox(kInfoGroup, u"Port Information", 7, 47, 125, 76),
        rc::LText(kListLabel, u"- Port Lists in Device", 13, 55, 112, 8),
        rc::ListBox(kList, 12, 66, 62, 43, WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_HASSTRINGS),
        rc::PushButton(kRemove, u"Remove Port", 75, 66, 54, 21),
        rc::PushButton(kSelect, u"Select Port", 75, 88, 54, 21),
        rc::LText(kDefaultLabel, u"Default Port : ", 13, 111, 45, 8),
        rc::LText(kDefaultPort, u"", 59, 111, 64, 8),
        rc::DefPushButton(IDOK, u"OK", 8, 125, 123, 21),
    }};

const setup::ControlText kKoreanTexts[] = {
    {0, u"프린터 포트 설정"},
    {kAddGroup, u"포트 추가"},
    {kInfoGroup, u"포트 정보"},
    {kNameLabel, u"포트 이름 : "},
    {kListLabel, u"- 장치에 있는 포트 리스트"},
    {kDefaultLabel, u"기본 포트 : "},
    {kAdd, u"포트 추가"},
    {kRemove, u"포트 삭제"},
    {kSelect, u"포트 선택"},
    {IDOK, u"확인"},
};

// A string value's data: first into 64 bytes, then into as much as the registry asks
// for. False for a value that cannot be read or holds no text.
bool ReadPortData(HKEY key, const WCHAR* name, std::u16string& text) {
    std::vector<WCHAR> buffer(32);
    DWORD type = 0, size = 64;
    LONG result =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (result == ERROR_MORE_DATA) {
        buffer.assign(size_t(size) / 2 + 1, u'\0');
        size = DWORD(buffer.size() * 2);
        result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                  &size);
    }
    if (result != ERROR_SUCCESS || type != REG_SZ) return false;
    text.assign(buffer.data(), std::min<size_t>(size / 2, buffer.size()));
    text.resize(WideLength(text.c_str()));
    return true;
}

// Enumerates the value at index: its name, and its type when asked.
bool ValueAt(HKEY key, DWORD index, std::u16string& name, DWORD* type = nullptr) {
    WCHAR buffer[kValueNameChars + 1];
    DWORD chars = kValueNameChars;
    if (RegEnumValueW(key, index, buffer, &chars, nullptr, type, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    name.assign(buffer, chars);
    return true;
}

DWORD ValueCount(HKEY key) {
    DWORD values = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return values;
}

bool ValueExists(HKEY key, const WCHAR* name) {
    return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::u16string PortValueName(int number) {
    return FormatWideString(u"Port%d", number);
}

// The key also holds "DefaultPrintPort": only "Port" and a number name a listed port.
bool IsPortValueName(std::u16string_view name) {
    if (name.size() < 5 || !WideEqualsNoCase(name.substr(0, 4), u"Port")) return false;
    for (char16_t c : name.substr(4))
        if (c < u'0' || c > u'9') return false;
    return true;
}

// The names of the key's port values, in enumeration order.
std::vector<std::u16string> PortValueNames(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0, count = ValueCount(key); i < count; ++i) {
        std::u16string name;
        if (!ValueAt(key, i, name)) break;
        if (IsPortValueName(name)) names.push_back(std::move(name));
    }
    return names;
}

void Show(HWND owner, const WCHAR* text) {
    MessageBoxW(owner, text, nullptr, MB_OK);
}

// A change that did not reach the registry must say so, not pass for a refusal.
void ShowNotSaved(HWND owner, LONG error) {
    Show(owner,
         FormatWideString(u"The port list could not be saved\n(registry error %d).", int(error))
             .c_str());
}

}  // namespace

PortSettingsDialog::PortSettingsDialog(const setup::SetupModel& model)
    : Dialog(kPortTemplate), model_(model) {
    static const MessageEntry<PortSettingsDialog> table[] = {
        {kAdd, BN_CLICKED, &PortSettingsDialog::OnAddPort},
        {kRemove, BN_CLICKED, &PortSettingsDialog::OnRemovePort},
        {kSelect, BN_CLICKED, &PortSettingsDialog::OnSelectPort},
    };
    SetMessageTable(table);
}

void PortSettingsDialog::DoDataExchange(DataExchange& dx) {
    dx.Control(kAddGroup, addGroup_);
    dx.Control(kInfoGroup, infoGroup_);
    dx.Control(kNameLabel, nameLabel_);
    dx.Control(kListLabel, listLabel_);
    dx.Control(kDefaultLabel, defaultLabel_);
    dx.Control(kDefaultPort, defaultPort_);
    dx.Control(kName, nameEdit_);
    dx.Control(kList, ports_);
    dx.Control(kAdd, add_);
    dx.Control(kRemove, remove_);
    dx.Control(kSelect, select_);
    dx.Control(IDOK, ok_);
    dx.Text(kName, portNameText_);
    dx.Text(kDefaultPort, defaultPortText_, setup::kTextUnits);
}

BOOL PortSettingsDialog::OnInitDialog() {
    portNameText_.clear();
    defaultPortText_[0] = u'\0';
    Dialog::OnInitDialog();
    const std::pair<IconButton*, UINT> buttons[] = {
        {&add_, 133}, {&remove_, 134}, {&select_, 142}, {&ok_, 138}};
    for (auto [button, icon] : buttons) {
        button->SetFont(GetDialogFont(), TRUE);
        button->SetIcon(icon, 32, 32);
        button->Set3D(true);
    }
    nameEdit_.LimitText(kPortNameChars);
    portCounter = 0;
    FillList();
    ShowDriverPort();
    if (setup::Language(codePage) == 1) setup::SetTexts(*this, kKoreanTexts);
    return TRUE;
}

void PortSettingsDialog::FillList() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS)
            RegCloseKey(key);
        return;
    }
    std::vector<std::u16string> names = PortValueNames(key);
    portCounter = int(names.size());
    // From the last value to the first: the newest port stands at the top.
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        std::u16string data;
        if (ReadPortData(key, name->c_str(), data)) AppendEntry(data);
    }
    RegCloseKey(key);
}

void PortSettingsDialog::ShowDriverPort() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, model_.driverKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (int i = int(ValueCount(key)) - 1; i >= 0; --i) {
        std::u16string name, data;
        DWORD type = 0;
        if (!ValueAt(key, DWORD(i), name, &type) || !WideEqualsNoCase(name, u"Port") ||
            type != REG_SZ)
            continue;
        if (ReadPortData(key, name.c_str(), data) && !data.empty()) {
            setup::CopyText(defaultPortText_, data);
            defaultPort_.SetWindowText(defaultPortText_);
        }
        break;
    }
    RegCloseKey(key);
}

void PortSettingsDialog::MoveSelectionOn() {
    int selected = ports_.GetCurSel(), count = ports_.GetCount();
    if (selected >= 0 && count > 1) ports_.SetCurSel((selected + 1) % count);
}

void PortSettingsDialog::EnableEntryButtons() {
    BOOL any = ports_.GetCount() > 0 ? TRUE : FALSE;
    remove_.EnableWindow(any);
    select_.EnableWindow(any);
}

void PortSettingsDialog::AppendEntry(const std::u16string& text) {
    MoveSelectionOn();
    ports_.AddString(text);
    MoveSelectionOn();
    EnableEntryButtons();
}

PortSettingsDialog::AddResult PortSettingsDialog::AddToRegistry(const std::u16string& portName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, kWriteAndRead, &key) != ERROR_SUCCESS)
        return AddResult::NotOpened;
    std::u16string valueName = PortValueName(++portCounter);
    AddResult result = AddResult::Added;
    if (ValueExists(key, valueName.c_str())) {
        Show(Handle(), u"Value of this name already exists!");
        result = AddResult::Refused;
    }
    std::vector<std::u16string> names = PortValueNames(key);
    for (auto name = names.rbegin(); result == AddResult::Added && name != names.rend(); ++name) {
        std::u16string data;
        if (ReadPortData(key, name->c_str(), data) && WideEqualsNoCase(data, portName))
            result = AddResult::Refused;
    }
    if (result == AddResult::Added) {
        saveError_ = setup::SetText(key, valueName.c_str(), portName.c_str());
        if (saveError_ != ERROR_SUCCESS) result = AddResult::NotSaved;
    }
    if (result != AddResult::Added) --portCounter;
    RegCloseKey(key);
    return result;
}

void PortSettingsDialog::OnAddPort() {
    portNameText_ = nameEdit_.GetWindowText();
    switch (AddToRegistry(portNameText_)) {
        case AddResult::Added:
            AppendEntry(portNameText_);
            break;
        case AddResult::Refused:
            Show(Handle(), u"This name already exists!");
            break;
        case AddResult::NotSaved:
            ShowNotSaved(Handle(), saveError_);
            break;
        case AddResult::NotOpened:
            break;
    }
}

void PortSettingsDialog::OnRemovePort() {
    int selected = ports_.GetCurSel();
    if (selected < 0) return;  // nothing chosen, nothing removed
    ports_.DeleteString(UINT(selected));
    LONG error = RemovePortValues();
    --portCounter;
    MoveSelectionOn();
    EnableEntryButtons();
    if (error == ERROR_SUCCESS && ports_.GetCount() > 0) error = WritePortValues();
    if (error == ERROR_SUCCESS) return;
    // The list shows what the registry holds, not what the user asked for.
    ShowNotSaved(Handle(), error);
    ports_.ResetContent();
    portCounter = 0;
    FillList();
    EnableEntryButtons();
}

// Every port value goes, whatever its number; "DefaultPrintPort" stays.
LONG PortSettingsDialog::RemovePortValues() {
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, kWriteAndRead, &key);
    if (error != ERROR_SUCCESS) return error;
    for (const std::u16string& name : PortValueNames(key))
        if ((error = RegDeleteValueW(key, name.c_str())) != ERROR_SUCCESS) break;
    RegCloseKey(key);
    return error;
}

// The key holds Port1 to Portm in the order of the list.
LONG PortSettingsDialog::WritePortValues() {
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_WRITE, &key);
    if (error != ERROR_SUCCESS) return error;
    for (int i = 0; i < ports_.GetCount() && error == ERROR_SUCCESS; ++i)
        error = setup::SetText(key, PortValueName(i + 1).c_str(), ports_.GetText(i).c_str());
    RegCloseKey(key);
    return error;
}

void PortSettingsDialog::OnSelectPort() {
    int selected = ports_.GetCurSel();
    if (selected < 0) return;
    std::u16string port = ports_.GetText(selected);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, model_.driverKey, 0, kWriteAndRead, &key) !=
        ERROR_SUCCESS)
        return;
    bool failed =
        !ValueExists(key, u"Port") || setup::SetText(key, u"Port", port.c_str()) != ERROR_SUCCESS;
    RegCloseKey(key);
    if (failed) {
        Show(Handle(), u"Failed to update the Port!");
        return;
    }
    setup::CopyText(defaultPortText_, port);
    defaultPort_.SetWindowText(defaultPortText_);
}
