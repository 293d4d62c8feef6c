#!/usr/bin/env bash
# Registers the test implementations of Windows Runtime and COM classes in a Wine prefix (created
# when missing), as the classes they stand for: HKLM\Software\Microsoft\WindowsRuntime\
# ActivatableClassId\<class> with DllPath naming the DLL (copied into the prefix), and
# HKCR\CLSID\{clsid}\InprocServer32 naming it with ThreadingModel=Both.
# Usage: tools/register-test-classes.sh <prefix folder> <pd_winrt_test_classes.dll>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(realpath -m "$1")
dll=$2
[ -f "$prefix/.ready" ] || "$here/wine-prefix.sh" "$prefix" create
. "$here/wine-env.sh" "$prefix"
mkdir -p "$prefix/drive_c/pd-test-classes"
cp "$dll" "$prefix/drive_c/pd-test-classes/"
target='C:\pd-test-classes\'"$(basename "$dll")"
reg_file="$prefix/drive_c/pd-test-classes/classes.reg"
{
    printf 'Windows Registry Editor Version 5.00\r\n'
    for class in Windows.Management.Deployment.PackageManager Windows.Management.Core.ApplicationDataManager \
        Windows.Foundation.Uri Windows.Foundation.PropertyValue Windows.Security.Credentials.UI.UserConsentVerifier \
        Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher \
        Windows.Devices.Bluetooth.BluetoothLEDevice Windows.Networking.Connectivity.ConnectivityManager \
        Windows.Networking.Connectivity.CellularApnContext \
        Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession Windows.Storage.Streams.Buffer \
        Windows.Devices.Sms.SmsMessageRegistration Windows.Devices.Sms.SmsFilterRules \
        Windows.Devices.Sms.SmsFilterRule Windows.Devices.Bluetooth.BluetoothAdapter; do
        printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\%s]\r\n' "$class"
        printf '"DllPath"="%s"\r\n' "${target//\\/\\\\}"
    done
    # Classic COM classes: the Mobile Broadband interface manager.
    for clsid in '{BDFEE05B-4418-11DD-90ED-001C257CCFF1}'; do
        printf '\r\n[HKEY_CLASSES_ROOT\\CLSID\\%s\\InprocServer32]\r\n' "$clsid"
        printf '@="%s"\r\n"ThreadingModel"="Both"\r\n' "${target//\\/\\\\}"
    done
} >"$reg_file"
wine regedit /S 'C:\pd-test-classes\classes.reg' </dev/null >/dev/null 2>&1
