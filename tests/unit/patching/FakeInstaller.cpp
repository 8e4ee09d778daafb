// The Windows Installer functions of the update run, answered from `fake` and recorded as
// text. msi.dll is not linked into this binary, so these definitions are the ones called.
#include "Fakes.h"

#include <sddl.h>
#include <strsafe.h>

#include <string>

FakeSystem fake;

namespace {

std::wstring Number(unsigned long long value)
{
    return std::to_wstring(value);
}

std::wstring Text(LPCWSTR text)
{
    return text == nullptr ? std::wstring(L"null") : std::wstring(text);
}

std::wstring Label(MSIHANDLE handle)
{
    if (handle == 0)
        return L"0";
    auto open = fake.openHandles.find(handle);
    return open == fake.openHandles.end() ? L"unknown " + Number(handle) : open->second;
}

MSIHANDLE OpenHandle(const std::wstring& label)
{
    MSIHANDLE handle = fake.nextHandle++;
    fake.openHandles[handle] = label;
    return handle;
}

bool ZeroFilled(const wchar_t* buffer, DWORD count)
{
    for (DWORD i = 0; i < count; ++i) {
        if (buffer[i] != L'\0')
            return false;
    }
    return true;
}

const FakePatch* PatchAt(LPCWSTR path)
{
    for (const FakePatch& patch : fake.patches) {
        if (path != nullptr && fake.folder + L"\\" + patch.fileName == path)
            return &patch;
    }
    return nullptr;
}

// A patch's PID_REVNUMBER: its own, or one made from its file name; "-" means none.
std::wstring Revision(const FakePatch& patch)
{
    if (patch.revision == L"-")
        return std::wstring();
    if (!patch.revision.empty())
        return patch.revision;
    unsigned long long digits = 0;
    for (wchar_t c : patch.fileName)
        digits = (digits * 131 + c) & 0xFFFFFFFFFFFFull;
    wchar_t code[39];
    StringCchPrintfW(code, ARRAYSIZE(code), L"{FA4E0000-0000-4000-8000-%012llX}", digits);
    return code;
}

std::wstring PatchCode(const FakePatch& patch)
{
    std::wstring revision = Revision(patch);
    return revision.size() >= 38 ? revision.substr(0, 38) : std::wstring();
}

const FakeProduct* ProductFor(LPCWSTR code)
{
    auto product = code == nullptr ? fake.products.end() : fake.products.find(code);
    return product == fake.products.end() ? nullptr : &product->second;
}

// The product and context whose cached package lies at path.
const FakeProduct* PackageAt(LPCWSTR path, std::wstring& code);
MSIINSTALLCONTEXT PackageContext(const std::wstring& code, const std::wstring& path);

// What a summary handle answers for PID_TEMPLATE, by the label it was opened under.
struct TemplateAnswer {
    std::wstring text;
    UINT sizeResult = ERROR_MORE_DATA;
    UINT readResult = ERROR_SUCCESS;
    std::wstring revision;  // PID_REVNUMBER; empty: no such property
};
std::map<MSIHANDLE, TemplateAnswer> templates;

// Windows Installer's own buffer rule: count is the capacity in, the length out.
UINT CopyOut(const std::wstring& value, LPWSTR buffer, LPDWORD count)
{
    DWORD capacity = *count;
    *count = static_cast<DWORD>(value.size());
    if (buffer == nullptr || capacity <= value.size())
        return ERROR_MORE_DATA;
    value.copy(buffer, value.size());
    buffer[value.size()] = L'\0';
    return ERROR_SUCCESS;
}

}  // namespace

bool Has(const std::vector<MSIINSTALLCONTEXT>& contexts, MSIINSTALLCONTEXT context)
{
    for (MSIINSTALLCONTEXT c : contexts) {
        if (c == context)
            return true;
    }
    return false;
}

// The contexts the product is installed in for the running account.
const std::vector<MSIINSTALLCONTEXT>& InstalledContexts(const FakeProduct& product)
{
    static const std::vector<MSIINSTALLCONTEXT> none;
    return product.state == INSTALLSTATE_DEFAULT ? product.contexts : none;
}

const FakeOtherAccount* OtherAccount(const FakeProduct& product, LPCWSTR sid, MSIINSTALLCONTEXT context)
{
    for (const FakeOtherAccount& other : product.otherAccounts) {
        if (sid != nullptr && other.sid == sid && other.context == context)
            return &other;
    }
    return nullptr;
}

const std::wstring& RunningSid()
{
    static std::wstring sid;
    if (!sid.empty())
        return sid;
    HANDLE token = nullptr;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    wchar_t* text = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    if (token != nullptr)
        CloseHandle(token);
    return sid;
}

std::wstring PackagePath(const std::wstring& code, const FakeProduct& product, MSIINSTALLCONTEXT context)
{
    if (context != MSIINSTALLCONTEXT_MACHINE)
        return L"C:\\users\\cache\\" + code + L"-" + Number(context) + L".msi";
    return product.localPackage.empty() ? L"C:\\cache\\" + code + L".msi" : product.localPackage;
}

namespace {

const FakeProduct* PackageAt(LPCWSTR path, std::wstring& code)
{
    for (const auto& product : fake.products) {
        for (MSIINSTALLCONTEXT context : product.second.contexts) {
            if (path != nullptr && PackagePath(product.first, product.second, context) == path) {
                code = product.first;
                return &product.second;
            }
        }
    }
    return nullptr;
}

MSIINSTALLCONTEXT PackageContext(const std::wstring& code, const std::wstring& path)
{
    const FakeProduct& product = fake.products[code];
    for (MSIINSTALLCONTEXT context : product.contexts) {
        if (PackagePath(code, product, context) == path)
            return context;
    }
    return MSIINSTALLCONTEXT_NONE;
}

// The package a view, a record or a database handle belongs to, by its label.
const FakeProduct* PackageOf(MSIHANDLE handle)
{
    std::wstring label = Label(handle);
    size_t colon = label.find(L':');
    std::wstring code;
    return colon == std::wstring::npos ? nullptr : PackageAt(label.substr(colon + 1).c_str(), code);
}

}  // namespace

std::wstring AppliedKey(const std::wstring& patchCode, const std::wstring& product, MSIINSTALLCONTEXT context)
{
    return patchCode + L"|" + product + L"|" + Number(context);
}

void ResetFake()
{
    if (fake.token != nullptr)
        CloseHandle(fake.token);
    fake = FakeSystem();
    templates.clear();
    ForgetPatchData();
}

std::vector<std::wstring> CallsStartingWith(const std::wstring& prefix)
{
    std::vector<std::wstring> found;
    for (const std::wstring& call : fake.calls) {
        if (call.compare(0, prefix.size(), prefix) == 0)
            found.push_back(call);
    }
    return found;
}

extern "C" {

UINT WINAPI MsiCloseHandle(MSIHANDLE handle)
{
    fake.calls.push_back(L"MsiCloseHandle(" + Label(handle) + L")");
    if (fake.openHandles.erase(handle) == 0)
        return ERROR_INVALID_HANDLE;
    templates.erase(handle);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database)
{
    fake.calls.push_back(L"MsiOpenDatabaseW(" + Text(path) + L", " + Number(reinterpret_cast<uintptr_t>(persist)) +
                         L")");
    if (persist == MSIDBOPEN_READONLY) {
        std::wstring code;
        const FakeProduct* product = PackageAt(path, code);
        if (product == nullptr)
            return ERROR_OPEN_FAILED;
        if (product->packageOpenResult != ERROR_SUCCESS)
            return product->packageOpenResult;
        *database = OpenHandle(L"package:" + Text(path));
        return ERROR_SUCCESS;
    }
    const FakePatch* patch = PatchAt(path);
    if (patch == nullptr)
        return ERROR_OPEN_FAILED;
    if (patch->openResult != ERROR_SUCCESS)
        return patch->openResult;
    *database = OpenHandle(L"database:" + patch->fileName);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR path, UINT updateCount, MSIHANDLE* summary)
{
    std::wstring line =
        L"MsiGetSummaryInformationW(" + Label(database) + L", " + Text(path) + L", " + Number(updateCount) + L")";
    if (summary == nullptr || *summary != 0)
        line += L" BAD-ARGS";
    fake.calls.push_back(line);

    TemplateAnswer answer;
    std::wstring label;
    UINT result = ERROR_OPEN_FAILED;
    if (database != 0) {
        std::wstring databaseLabel = Label(database);
        for (const FakePatch& patch : fake.patches) {
            if (databaseLabel == L"database:" + patch.fileName) {
                result = patch.summaryResult;
                answer = {patch.targets, patch.sizeResult, patch.readResult, Revision(patch)};
                label = L"summary:" + patch.fileName;
            }
        }
    }
    // A cached package's, opened as a database or by its path.
    std::wstring packagePath = path != nullptr ? std::wstring(path) : std::wstring();
    std::wstring databaseLabel = Label(database);
    if (databaseLabel.compare(0, 8, L"package:") == 0)
        packagePath = databaseLabel.substr(8);
    std::wstring code;
    const FakeProduct* package = PackageAt(packagePath.c_str(), code);
    if (package != nullptr) {
        result = package->summaryResult;
        auto own = package->contextTemplates.find(PackageContext(code, packagePath));
        const std::wstring& text = own == package->contextTemplates.end() ? package->packageTemplate : own->second;
        answer = {text, package->templateSizeResult, package->templateReadResult, L""};
        label = L"summary:" + packagePath;
    }
    if (result != ERROR_SUCCESS)
        return result;
    *summary = OpenHandle(label);
    templates[*summary] = answer;
    return ERROR_SUCCESS;
}

UINT WINAPI MsiSummaryInfoGetPropertyW(MSIHANDLE summary, UINT property, UINT* dataType, INT* intValue,
                                       FILETIME* timeValue, LPWSTR buffer, LPDWORD count)
{
    bool sizeQuery = count != nullptr && *count == 0;
    bool argumentsOk = dataType != nullptr && intValue == nullptr && timeValue == nullptr && buffer != nullptr &&
                       count != nullptr && (sizeQuery ? buffer[0] == L'\0' : ZeroFilled(buffer, *count));
    std::wstring line = L"MsiSummaryInfoGetPropertyW(" + Label(summary) + L", " + Number(property) + L", " +
                        (count == nullptr ? L"null" : Number(*count)) + L")";
    if (!argumentsOk)
        line += L" BAD-ARGS";
    fake.calls.push_back(line);

    auto answer = templates.find(summary);
    if (answer == templates.end() || count == nullptr)
        return ERROR_INVALID_PARAMETER;
    const std::wstring* text = &answer->second.text;
    if (property == PID_REVNUMBER) {
        // A property the summary does not hold reads as VT_EMPTY with success.
        if (answer->second.revision.empty()) {
            *dataType = 0;
            *count = 0;
            return ERROR_SUCCESS;
        }
        *dataType = 30;
        return CopyOut(answer->second.revision, buffer, count);
    }
    if (property != PID_TEMPLATE)
        return ERROR_INVALID_PARAMETER;
    *dataType = 30;  // VT_LPSTR
    UINT result = CopyOut(*text, buffer, count);
    if (sizeQuery)
        return answer->second.sizeResult;
    return result == ERROR_SUCCESS ? answer->second.readResult : result;
}

UINT WINAPI MsiGetProductInfoExW(LPCWSTR code, LPCWSTR userSid, MSIINSTALLCONTEXT context, LPCWSTR property,
                                 LPWSTR buffer, LPDWORD count)
{
    bool sizeQuery = count != nullptr && *count == 0;
    // A SID with the machine context is refused by Windows Installer.
    bool argumentsOk = count != nullptr && !(userSid != nullptr && context == MSIINSTALLCONTEXT_MACHINE) &&
                       (sizeQuery ? buffer == nullptr : buffer != nullptr);
    std::wstring line = L"MsiGetProductInfoExW(" + Text(code) + L", " +
                        (userSid == nullptr ? std::wstring() : std::wstring(userSid) + L", ") + Number(context) +
                        L", " + Text(property) + L", " + (count == nullptr ? L"null" : Number(*count)) + L")";
    if (!argumentsOk)
        line += L" BAD-ARGS";
    fake.calls.push_back(line);

    const FakeProduct* product = ProductFor(code);
    if (product == nullptr || count == nullptr)
        return ERROR_UNKNOWN_PRODUCT;
    std::wstring name = Text(property);
    if (userSid != nullptr && userSid != RunningSid()) {
        // Another account's installation, which an elevated caller may ask about.
        const FakeOtherAccount* other = OtherAccount(*product, userSid, context);
        if (other == nullptr || other->state.empty() || name != INSTALLPROPERTY_PRODUCTSTATE)
            return ERROR_UNKNOWN_PRODUCT;
        return CopyOut(other->state, buffer, count);
    }
    bool installed = Has(InstalledContexts(*product), context);
    if (name == INSTALLPROPERTY_PRODUCTSTATE) {
        if (!installed && !Has(product->advertisedIn, context))
            return ERROR_UNKNOWN_PRODUCT;
        return CopyOut(installed ? L"5" : L"1", buffer, count);
    }
    // What Windows answers for a product not installed in the context asked for.
    if (!installed)
        return ERROR_UNKNOWN_PRODUCT;
    std::wstring value;
    UINT sizeResult = ERROR_SUCCESS;
    UINT readResult = ERROR_SUCCESS;
    if (name == INSTALLPROPERTY_LOCALPACKAGE) {
        value = PackagePath(code, *product, context);
        sizeResult = product->packageSizeResult;
        readResult = product->packageReadResult;
    } else if (name == INSTALLPROPERTY_INSTALLEDPRODUCTNAME) {
        if (product->nameResult != ERROR_SUCCESS)
            return product->nameResult;
        value = product->name;
    } else {
        return ERROR_UNKNOWN_PROPERTY;
    }
    // A null buffer only asks for the length, which Windows Installer answers with success.
    UINT result = CopyOut(value, buffer, count);
    if (sizeQuery)
        return sizeResult;
    return result == ERROR_SUCCESS ? readResult : result;
}

UINT WINAPI MsiEnumProductsExW(LPCWSTR code, LPCWSTR userSid, DWORD contexts, DWORD index, LPWSTR installedCode,
                               MSIINSTALLCONTEXT* installedContext, LPWSTR sid, LPDWORD sidCount)
{
    std::wstring line = L"MsiEnumProductsExW(" + Text(code) + L", " + Text(userSid) + L", " + Number(contexts) + L", " +
                        Number(index) + L")";
    if (installedCode == nullptr || installedContext == nullptr || sid == nullptr || sidCount == nullptr)
        line += L" BAD-ARGS";
    fake.calls.push_back(line);

    // Every installation in the order Wine lists them: the machine's, then each account's
    // unmanaged and managed ones; advertised products are listed like installed ones.
    struct Listed {
        std::wstring code;
        MSIINSTALLCONTEXT context;
        std::wstring sid;
    };
    std::vector<Listed> listed;
    const MSIINSTALLCONTEXT order[] = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERUNMANAGED,
                                       MSIINSTALLCONTEXT_USERMANAGED};
    for (MSIINSTALLCONTEXT context : order) {
        for (const auto& product : fake.products) {
            const FakeProduct& p = product.second;
            if (Has(InstalledContexts(p), context) || Has(p.advertisedIn, context))
                listed.push_back({product.first, context, context == MSIINSTALLCONTEXT_MACHINE ? L"" : RunningSid()});
            for (const FakeOtherAccount& other : p.otherAccounts) {
                if (other.context == context)
                    listed.push_back({product.first, context, other.sid});
            }
        }
    }
    if (index >= listed.size())
        return fake.enumerateResult;
    const Listed& entry = listed[index];
    if (*sidCount <= entry.sid.size()) {
        *sidCount = static_cast<DWORD>(entry.sid.size());
        return ERROR_MORE_DATA;
    }
    StringCchCopyW(installedCode, 39, entry.code.c_str());
    *installedContext = entry.context;
    entry.sid.copy(sid, entry.sid.size());
    sid[entry.sid.size()] = L'\0';
    *sidCount = static_cast<DWORD>(entry.sid.size());
    return ERROR_SUCCESS;
}

UINT WINAPI MsiGetPatchInfoExW(LPCWSTR patchCode, LPCWSTR code, LPCWSTR userSid, MSIINSTALLCONTEXT context,
                               LPCWSTR property, LPWSTR buffer, LPDWORD count)
{
    std::wstring line = L"MsiGetPatchInfoExW(" + Text(patchCode) + L", " + Text(code) + L", " + Number(context) +
                        L", " + Text(property) + L")";
    if (userSid != nullptr || buffer == nullptr || count == nullptr || *count == 0)
        line += L" BAD-ARGS";
    fake.calls.push_back(line);

    const FakeProduct* product = ProductFor(code);
    if (product == nullptr || !Has(InstalledContexts(*product), context))
        return ERROR_UNKNOWN_PRODUCT;
    if (Text(property) != INSTALLPROPERTY_PATCHSTATE)
        return ERROR_UNKNOWN_PROPERTY;
    std::wstring key = AppliedKey(Text(patchCode), code, context);
    auto error = fake.patchStateErrors.find(key);
    if (error != fake.patchStateErrors.end())
        return error->second;
    auto listed = fake.patchStates.find(key);
    if (listed != fake.patchStates.end())
        return CopyOut(listed->second, buffer, count);
    if (fake.appliedPatches.count(key) == 0)
        return ERROR_UNKNOWN_PATCH;
    return CopyOut(L"1", buffer, count);  // MSIPATCHSTATE_APPLIED
}

UINT WINAPI MsiBeginTransactionW(LPCWSTR name, DWORD attributes, MSIHANDLE* transaction, HANDLE* event)
{
    std::wstring line = L"MsiBeginTransactionW(" + Text(name) + L", " + Number(attributes) + L")";
    if (transaction == nullptr || *transaction != 0 || event == nullptr || *event != nullptr)
        line += L" BAD-ARGS";
    fake.calls.push_back(line);
    if (fake.beginResult != ERROR_SUCCESS)
        return fake.beginResult;
    fake.transactionOpen = true;
    *transaction = OpenHandle(L"transaction");
    *event = reinterpret_cast<HANDLE>(0xdeadbeef);  // what Wine answers
    return ERROR_SUCCESS;
}

UINT WINAPI MsiEndTransaction(DWORD state)
{
    fake.calls.push_back(L"MsiEndTransaction(" + Number(state) + L")");
    // What a transaction is after a failed commit, the documentation does not say: every
    // later call answers as the test scripts it.
    fake.transactionOpen = false;
    if (state == MSITRANSACTIONSTATE_COMMIT && fake.commitResult != ERROR_SUCCESS &&
        fake.commitResult != ERROR_SUCCESS_REBOOT_REQUIRED) {
        for (const std::wstring& key : fake.undoneByFailedCommit)
            fake.appliedPatches.erase(key);
    }
    if (state == MSITRANSACTIONSTATE_COMMIT)
        return fake.commitResult;
    if (state == MSITRANSACTIONSTATE_ROLLBACK)
        return fake.rollbackResult;
    return ERROR_INVALID_PARAMETER;
}

UINT WINAPI MsiDeterminePatchSequenceW(LPCWSTR code, LPCWSTR userSid, MSIINSTALLCONTEXT context, DWORD count,
                                       PMSIPATCHSEQUENCEINFOW sequence)
{
    std::wstring line =
        L"MsiDeterminePatchSequenceW(" + Text(code) + L", " + Text(userSid) + L", " + Number(context) + L", [";
    bool argumentsOk = true;
    for (DWORD i = 0; i < count; ++i) {
        line += (i == 0 ? L"" : L", ") + Text(sequence[i].szPatchData);
        WatchPatchData(sequence[i].szPatchData);
        argumentsOk = argumentsOk && sequence[i].ePatchDataType == MSIPATCH_DATATYPE_PATCHFILE &&
                      sequence[i].dwOrder == 0xFFFFFFFF && sequence[i].uStatus == 0;
        for (DWORD k = 0; k < i; ++k)
            argumentsOk = argumentsOk && sequence[k].szPatchData != sequence[i].szPatchData;
    }
    line += L"])";
    if (!argumentsOk)
        line += L" BAD-ARGS";
    fake.calls.push_back(line);

    const FakeProduct* product = ProductFor(code);
    if (product == nullptr)
        return ERROR_UNKNOWN_PRODUCT;
    // Wine's answer for a product not installed in the context asked for.
    if (!Has(InstalledContexts(*product), context))
        return ERROR_BAD_CONFIGURATION;
    if (product->sequenceResult != ERROR_SUCCESS)
        return product->sequenceResult;
    for (DWORD i = 0; i < count; ++i) {
        bool scripted = i < product->sequence.size();
        sequence[i].uStatus = scripted ? product->sequence[i].status : 0;
        sequence[i].dwOrder = scripted ? product->sequence[i].order : i;
    }
    return ERROR_SUCCESS;
}

INSTALLUILEVEL WINAPI MsiSetInternalUI(INSTALLUILEVEL level, HWND* window)
{
    fake.calls.push_back(L"MsiSetInternalUI(" + Number(level) + L", " + (window == nullptr ? L"null" : L"window") +
                         L")");
    return INSTALLUILEVEL_DEFAULT;
}

UINT WINAPI MsiEnableLogW(DWORD mode, LPCWSTR logFile, DWORD attributes)
{
    fake.calls.push_back(L"MsiEnableLogW(" + Number(mode) + L", " + Text(logFile) + L", " + Number(attributes) + L")");
    if (fake.enableLogResult != ERROR_SUCCESS)
        return fake.enableLogResult;
    // Windows Installer writes the log where it is told; where that folder exists, so does this.
    HANDLE file = logFile == nullptr ? INVALID_HANDLE_VALUE
                                     : CreateFileW(logFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, "verbose", 7, &written, nullptr);
        CloseHandle(file);
    }
    return ERROR_SUCCESS;
}

UINT WINAPI MsiApplyMultiplePatchesW(LPCWSTR patchPackages, LPCWSTR productCode, LPCWSTR properties)
{
    std::wstring line = L"MsiApplyMultiplePatchesW(" + Text(patchPackages) + L", " + Text(productCode) + L", " +
                        Text(properties) + L")";
    const FakePatch* patch = PatchAt(patchPackages);
    if (patch != nullptr && patch->restartAction && fake.transactionOpen)
        line += L" RESTART-ACTION-IN-TRANSACTION";
    fake.calls.push_back(line);
    size_t call = fake.applyCount++;
    UINT result = call < fake.applyResults.size() ? fake.applyResults[call] : ERROR_SUCCESS;
    bool applied =
        result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_REQUIRED || result == ERROR_SUCCESS_REBOOT_INITIATED;
    if (patch == nullptr || patch->appliesNothing || !applied)
        return result;
    std::wstring prefix = PatchCode(*patch) + L"|";
    for (auto entry = fake.patchStatesOnceApplied.begin(); entry != fake.patchStatesOnceApplied.end();) {
        if (entry->first.compare(0, prefix.size(), prefix) == 0) {
            fake.patchStates[entry->first] = entry->second;
            entry = fake.patchStatesOnceApplied.erase(entry);
        } else {
            ++entry;
        }
    }
    // "Only to the specified product" (MsiApplyMultiplePatches), and no call takes a context:
    // Windows Installer patches the running account's installation it finds first, in the
    // order of "Installation Context" and the DisableUserInstalls policy.
    const FakeProduct* product = ProductFor(productCode);
    const MSIINSTALLCONTEXT searchOrder[] = {MSIINSTALLCONTEXT_USERMANAGED, MSIINSTALLCONTEXT_USERUNMANAGED,
                                             MSIINSTALLCONTEXT_MACHINE};
    bool targeted = patch->targets.find(Text(productCode)) != std::wstring::npos;
    for (MSIINSTALLCONTEXT context : searchOrder) {
        if (product == nullptr || !targeted || PatchCode(*patch).empty() || !Has(InstalledContexts(*product), context))
            continue;
        fake.appliedPatches.insert(AppliedKey(PatchCode(*patch), productCode, context));
        break;
    }
    return result;
}

UINT WINAPI MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view)
{
    const std::wstring restartQuery =
        L"SELECT `Action` FROM `InstallExecuteSequence` WHERE `Action` = "
        L"'ForceReboot' OR `Action` = 'ScheduleReboot'";
    std::wstring line = L"MsiDatabaseOpenViewW(" + Label(database) + L", " +
                        (Text(query) == restartQuery ? std::wstring(L"restart actions") : Text(query)) + L")";
    if (view == nullptr || *view != 0)
        line += L" BAD-ARGS";
    fake.calls.push_back(line);
    const FakeProduct* package = PackageOf(database);
    if (package == nullptr)
        return ERROR_INVALID_HANDLE;
    if (package->viewResult != ERROR_SUCCESS)
        return package->viewResult;
    *view = OpenHandle(L"view:" + Label(database).substr(8));
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewExecute(MSIHANDLE view, MSIHANDLE record)
{
    fake.calls.push_back(L"MsiViewExecute(" + Label(view) + L", " + Label(record) + L")");
    const FakeProduct* package = PackageOf(view);
    return package == nullptr ? ERROR_INVALID_HANDLE : package->executeResult;
}

UINT WINAPI MsiViewFetch(MSIHANDLE view, MSIHANDLE* record)
{
    std::wstring line = L"MsiViewFetch(" + Label(view) + L")";
    if (record == nullptr || *record != 0)
        line += L" BAD-ARGS";
    fake.calls.push_back(line);
    const FakeProduct* package = PackageOf(view);
    if (package == nullptr)
        return ERROR_INVALID_HANDLE;
    if (package->fetchResult != ERROR_SUCCESS)
        return package->fetchResult;
    if (package->restartAction.empty())
        return ERROR_NO_MORE_ITEMS;
    *record = OpenHandle(L"record:" + Label(view).substr(5));
    return ERROR_SUCCESS;
}

UINT WINAPI MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR buffer, LPDWORD count)
{
    fake.calls.push_back(L"MsiRecordGetStringW(" + Label(record) + L", " + Number(field) + L", " +
                         (count == nullptr ? L"null" : Number(*count)) + L")");
    const FakeProduct* package = PackageOf(record);
    if (package == nullptr || count == nullptr)
        return ERROR_INVALID_HANDLE;
    if (field != 1)
        return ERROR_INVALID_FIELD;
    if (package->recordResult != ERROR_SUCCESS)
        return package->recordResult;
    return CopyOut(package->restartAction, buffer, count);
}

}  // extern "C"

std::wstring FakePatchCode(const FakePatch& patch)
{
    return PatchCode(patch);
}
