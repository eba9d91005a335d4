"""How the current YOLO trainer finds a dataset from its data.yaml, written
again from its documented behaviour, for the checks of the YOLO family.

The dataset root is the data.yaml's "path" when it has one, else the folder of
the data.yaml itself. A relative "path" is taken from the folder the trainer
runs in when it exists there, else from the trainer's datasets folder: never
from the data.yaml's folder. "train", "val" and "test" are joined to the root
(one starting with "../" that is not found is tried once more without it).
The label file of a picture is its path with the last "/images/" replaced by
"/labels/" and its suffix by ".txt".
"""
import os
import shutil
import tempfile

import yaml


def load(yaml_file):
    with open(yaml_file, encoding="utf-8") as f:
        return yaml.safe_load(f)


def dataset_root(yaml_file, data, working_folder, datasets_folder):
    path = data.get("path") or os.path.dirname(os.path.abspath(yaml_file))
    if not os.path.isabs(path):
        if os.path.exists(os.path.join(working_folder, path)):
            path = os.path.join(working_folder, path)
        else:
            path = os.path.join(datasets_folder, path)
    return os.path.abspath(path)


def image_folders(yaml_file, working_folder=None, datasets_folder=None):
    """The folders the trainer reads for "train", "val" and "test", by key,
    as it resolves them from a working folder and a datasets folder that hold
    nothing of the dataset (fresh empty folders by default)."""
    data = load(yaml_file)
    scratch = None
    if working_folder is None or datasets_folder is None:
        scratch = tempfile.mkdtemp()
        working_folder = working_folder or os.path.join(scratch, "work")
        datasets_folder = datasets_folder or os.path.join(scratch, "datasets")
        os.makedirs(working_folder)
        os.makedirs(datasets_folder)
    try:
        root = dataset_root(yaml_file, data, working_folder, datasets_folder)
        folders = {}
        for key in ("train", "val", "test"):
            entry = data.get(key)
            if not entry:
                continue
            folder = os.path.abspath(os.path.join(root, entry))
            if not os.path.exists(folder) and entry.startswith("../"):
                folder = os.path.abspath(os.path.join(root, entry[3:]))
            folders[key] = folder
        return folders
    finally:
        if scratch:
            shutil.rmtree(scratch)


def label_path(picture):
    head, sep, tail = picture.rpartition(os.sep + "images" + os.sep)
    if sep:
        picture = head + os.sep + "labels" + os.sep + tail
    return os.path.splitext(picture)[0] + ".txt"


def check_portable(root, fail):
    """Copies the dataset elsewhere, as to a training machine, and checks that
    its data.yaml names only folders inside the copy, every one there, and no
    absolute path at all."""
    data = load(os.path.join(root, "data.yaml"))
    for key in ("path", "train", "val", "test"):
        value = data.get(key)
        if isinstance(value, str) and os.path.isabs(value):
            fail(f"data.yaml: {key} is the absolute path {value}")
    scratch = tempfile.mkdtemp()
    try:
        copy = os.path.join(scratch, "elsewhere", "dataset")
        shutil.copytree(root, copy)
        folders = image_folders(os.path.join(copy, "data.yaml"))
        if "train" not in folders or "val" not in folders:
            fail("data.yaml names no train or val folder")
        for key, folder in folders.items():
            if os.path.commonpath([folder, copy]) != copy:
                fail(f"{key}: {folder} lies outside the copied dataset {copy}")
            if not os.path.isdir(folder):
                fail(f"{key}: {folder} is not there in the copy")
    finally:
        shutil.rmtree(scratch)
